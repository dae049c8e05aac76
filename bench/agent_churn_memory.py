#!/usr/bin/python3
"""Resident memory while short-lived agents come and go: starts Tovami under Xvfb with agent watch on, then keeps a
few fake agents (processes named claude) alive at any time, each for about a second, and prints Tovami's resident
memory every --every seconds. A flat line means nothing piles up per agent. The watcher keeps a row per process of
the machine, so the line also follows the machine's process count, printed beside it: compare two builds in two runs
at the same time (TOVAMI_BINARY=... for each).

    bench/agent_churn_memory.py [--build build] [--minutes 10] [--per-second 5]
"""

import argparse
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
import harness  # noqa: E402

AGENT = "#!/bin/sh\nsleep \"$1\"\n"  # the shell stays, named claude


def resident(pid):
    """Resident memory in MB, whole and split: anonymous (the heap, stacks: what a leak grows) and
    file-backed (the program's and the libraries' pages, shared with other processes)."""
    kb = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "RssAnon", "RssFile", "RssShmem"):
                kb[key] = int(value.split()[0])
    mb = {key: value / 1024 for key, value in kb.items()}
    return (f"resident {mb.get('VmRSS', 0):6.1f} MB (anonymous {mb.get('RssAnon', 0):5.1f}, "
            f"file {mb.get('RssFile', 0):5.1f}, shared {mb.get('RssShmem', 0):4.1f})")


def process_count():
    """Processes on the machine: the watcher holds a row for each, so on a shared machine the
    resident memory follows this count as well as the agents."""
    return sum(1 for name in os.listdir("/proc") if name.isdigit())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--per-second", type=float, default=5)
    parser.add_argument("--every", type=float, default=30)
    args = parser.parse_args()
    harness.BINARY = os.environ.get("TOVAMI_BINARY", os.path.abspath(os.path.join(args.build, "tovami")))
    with harness.Session(screen="1440x900", openbox=True) as s:
        s.write_preferences("[General]\nislandOnNonNotch=true\n")
        folder = os.path.join(s.root, "agents")
        os.makedirs(folder)
        agent = os.path.join(folder, "claude")
        with open(agent, "w") as f:
            f.write(AGENT)
        os.chmod(agent, 0o755)
        process = s.start_tovami()
        s.wait_for_log("tovami started", 15)
        time.sleep(5)
        start = time.monotonic()
        next_report = start
        started, running = 0, []
        while time.monotonic() - start < args.minutes * 60:
            now = time.monotonic()
            if now >= next_report:
                print(f"{now - start:6.0f} s  {started:5d} agents started  {process_count():5d} processes  "
                      f"{resident(process.pid)}", flush=True)
                next_report += args.every
            running.append(subprocess.Popen([agent, "1"], cwd=folder))
            started += 1
            running = [p for p in running if p.poll() is None]
            time.sleep(1 / args.per_second)
        for p in running:
            p.wait()
        time.sleep(3)
        print(f"end     {started:5d} agents started  {process_count():5d} processes  {resident(process.pid)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
