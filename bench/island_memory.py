#!/usr/bin/python3
"""The island's memory beside the minimal Qt tray program (minimal_tray), under Xvfb with openbox and a stand-in
tray host, each round in the same display size: resident memory (RSS) and proportional set size (PSS, shared
library pages split among the processes using them) of the minimal program, of Tovami with the island collapsed
(with no agent, then with one idle Claude Code stand-in, whose line brings the fonts in), open, and collapsed again
after that. Prints the medians and their ratios. PSS follows whatever else runs with the same libraries: on a
shared machine compare RSS.

    bench/island_memory.py [--build build] [--rounds 5] [--tovami other/tovami]
"""

import argparse
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
import harness  # noqa: E402
import tray  # noqa: E402
from island_session import start_island  # noqa: E402


def memory_mb(pid):
    """(RSS, PSS) in MiB."""
    kb = {}
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("Rss", "Pss"):
                kb[key] = int(value.split()[0])
    return kb["Rss"] / 1024, kb["Pss"] / 1024


def minimal(build, settle):
    with harness.Session(screen="1440x900", openbox=True) as s:
        tray.start_fake_host(s)
        process = s._spawn([os.path.join(build, "bench", "minimal_tray")])
        time.sleep(settle)
        return {"minimal": memory_mb(process.pid)}


def tovami(settle):
    with harness.Session(screen="1440x900", openbox=True) as s:
        tray.start_fake_host(s)
        process = start_island(s, True, False)
        time.sleep(settle)
        result = {"collapsed, no agent": memory_mb(process.pid)}
        agent = s.agent_program("claude", harness.FAKE_AGENT)
        s.tmux_cmd("-f", "/dev/null", "new-session", "-d", f"{agent} {os.path.join(s.root, 'claude.pid')} 0")
        if not s.wait_for_log("Claude", 15):
            raise RuntimeError("the agent was never seen:\n" + s.log_text())
        time.sleep(settle)
        result["collapsed, an agent listed"] = memory_mb(process.pid)
        s.chord("a")
        time.sleep(settle)
        result["open"] = memory_mb(process.pid)
        s.chord("a")
        time.sleep(settle)
        result["collapsed after open"] = memory_mb(process.pid)
        return result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--settle", type=float, default=4, help="seconds before each reading")
    parser.add_argument("--tovami", action="append", help="a Tovami binary (repeat to compare builds)")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    binaries = [os.path.abspath(b) for b in args.tovami or [os.path.join(build, "tovami")]]
    readings = {}
    for _ in range(args.rounds):
        for name, value in minimal(build, args.settle).items():
            readings.setdefault(name, []).append(value)
        for binary in binaries:
            harness.BINARY = binary
            for name, value in tovami(args.settle).items():
                readings.setdefault(f"{os.path.relpath(binary)}: {name}", []).append(value)
    medians = {name: [statistics.median(r[i] for r in runs) for i in range(2)] for name, runs in readings.items()}
    base = medians["minimal"]
    for name, (rss, pss) in medians.items():
        spread = max(r[0] for r in readings[name]) - min(r[0] for r in readings[name])
        print(f"{name:48s} RSS {rss:6.1f} MiB ({rss / base[0]:.2f}x, spread {spread:4.1f})  "
              f"PSS {pss:6.1f} MiB ({pss / base[1]:.2f}x)")
    print(f"medians of {args.rounds} rounds, the ratios against the minimal program of the same run")
    return 0


if __name__ == "__main__":
    sys.exit(main())
