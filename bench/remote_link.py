#!/usr/bin/python3
"""The remote side's cost, in the same run as its baseline: `tovami --remote-stream` (what a host runs under
the desktop's ssh) beside two desktop programs under their own Xvfb, agent watch on and off, with five idle
agent stand-ins and sleeping children bringing the process table to --processes. After the agents have
settled (quiet after 10 s), over one window:

- the bytes the remote side writes per minute (only what changes goes up: the goal is under 2 kB with five
  idle agents; ssh's own keep-alives, about four small packets a minute, come on top);
- its CPU per scan (every thread's, /proc/<pid>/task/*/schedstat) against the desktop program's watch
  per scan (on - off): the goal is within 1.2 times.

    bench/remote_link.py [--build build] [--processes 600] [--minutes 1]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
import harness  # noqa: E402

SCAN_INTERVAL = 3.0


def cpu_seconds(pid):
    """CPU time of every thread of the process, in nanoseconds' resolution (schedstat)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except OSError:
            pass  # a thread that ended
    return total / 1e9


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    parser.add_argument("--processes", type=int, default=600)
    parser.add_argument("--minutes", type=float, default=1.0)
    args = parser.parse_args()
    entry = os.path.abspath(os.path.join(args.build, "tovami"))
    harness.BINARY = entry
    children = []
    with tempfile.TemporaryDirectory(prefix="tovami-remote-bench-") as root:
        agent = os.path.join(root, "bin", "claude")
        os.makedirs(os.path.dirname(agent))
        with open(agent, "w") as f:
            f.write(harness.FAKE_AGENT)
        os.chmod(agent, 0o755)
        try:
            for n in range(5):
                project = os.path.join(root, f"project{n}")
                os.makedirs(project)
                children.append(subprocess.Popen([agent, os.path.join(root, f"{n}.pid")], cwd=project))
            padding = max(0, args.processes - len(os.listdir("/proc")))
            children += [subprocess.Popen(["sleep", "3600"]) for _ in range(padding)]
            sessions = []
            for watch in ("true", "false"):
                s = harness.Session().__enter__()
                sessions.append(s)
                s.write_preferences(f"[General]\nagentWatchEnabled={watch}\nusageTracking=false\n")
                s.start_tovami()
            stream = subprocess.Popen([entry, "--remote-stream"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            received = []  # (monotonic time, bytes)

            def read():
                while chunk := stream.stdout.read1(65536):
                    received.append((time.monotonic(), len(chunk)))

            threading.Thread(target=read, daemon=True).start()
            time.sleep(15)  # the agents fall quiet, every side has seen them
            pids = {"remote side": stream.pid, "desktop, watch on": sessions[0].tovami.pid,
                    "desktop, watch off": sessions[1].tovami.pid}
            before = {name: cpu_seconds(pid) for name, pid in pids.items()}
            start = time.monotonic()
            time.sleep(args.minutes * 60)
            end = time.monotonic()
            used = {name: cpu_seconds(pid) - before[name] for name, pid in pids.items()}
            window_bytes = sum(n for t, n in received if start <= t < end)
            scans = (end - start) / SCAN_INTERVAL
            remote = used["remote side"] / scans * 1000
            desktop = (used["desktop, watch on"] - used["desktop, watch off"]) / scans * 1000
            print(f"{len(os.listdir('/proc'))} processes, 5 idle agents, {end - start:.0f} s window")
            print(f"remote side, bytes per idle minute: {window_bytes / (end - start) * 60:.0f} (goal < 2048); "
                  f"{sum(n for _, n in received)} bytes in all, the hello and first rows included")
            print(f"CPU per scan: remote side {remote:.2f} ms, desktop watch (on - off) {desktop:.2f} ms, "
                  f"ratio {remote / desktop if desktop > 0 else float('inf'):.2f} (goal <= 1.2)")
            stream.stdin.close()
            stream.wait(10)
            for s in sessions:
                s.__exit__(None, None, None)
        finally:
            for child in children:
                child.kill()
                child.wait()


if __name__ == "__main__":
    main()
