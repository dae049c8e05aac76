#!/usr/bin/python3
"""How often Tovami wakes up at rest, under Xvfb: context switches per second of its GUI thread and of all its threads
with the island off, collapsed (the cat asleep), and open with an idle agent, beside a minimal Qt program (the tab
fixture) left idle over the same window in the same run. A wake-up is a voluntary context switch: the thread slept
in poll and something woke it.

    bench/island_wakeups.py [--build build] [--seconds 60]
"""

import argparse
import glob
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
import harness  # noqa: E402
from island_session import start_island  # noqa: E402


VERBOSE = False
SETTLE = 15


def switches(status_path):
    with open(status_path) as f:
        for line in f:
            if line.startswith("voluntary_ctxt_switches:"):
                return int(line.split()[1])
    return 0


def sample(pid):
    """Voluntary context switches by thread id, with the thread's name."""
    counts = {}
    for task in glob.glob(f"/proc/{pid}/task/*"):
        try:
            with open(os.path.join(task, "comm")) as f:
                name = f.read().strip()
            counts[os.path.basename(task)] = (name, switches(os.path.join(task, "status")))
        except OSError:
            pass  # the thread ended
    return counts


def measure(pid, seconds):
    before = sample(pid)
    time.sleep(seconds)
    after = sample(pid)
    rates = {}
    for tid, (name, count) in after.items():
        rates[tid] = (name, (count - before.get(tid, (name, 0))[1]) / seconds)
    if VERBOSE:
        print("   ", ", ".join(f"{name} {rate:.2f}" for name, rate in sorted(rates.values(), key=lambda r: -r[1])
                               if rate > 0))
    return rates.get(str(pid), ("", 0))[1], sum(rate for _, rate in rates.values())


def tovami_run(seconds, island, opened):
    with harness.Session(screen="1440x900", openbox=True) as s:
        process = start_island(s, island, opened, busy_seconds=0)
        time.sleep(SETTLE)  # past the start-up work and the opening
        return measure(process.pid, seconds)


def qt_baseline(build, seconds):
    with harness.Session(screen="1440x900", openbox=True) as s:
        process = s._spawn([os.path.join(build, "tests", "fixtures", "qterminal")])
        time.sleep(3)
        return measure(process.pid, seconds)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--threads", action="store_true", help="print each thread's rate")
    parser.add_argument("--settle", type=float, default=15, help="seconds from the start to the measurement")
    parser.add_argument("--cases", default="qt,off,collapsed,open", help="which of qt,off,collapsed,open to run")
    args = parser.parse_args()
    global VERBOSE, SETTLE
    VERBOSE, SETTLE = args.threads, args.settle
    harness.BINARY = os.environ.get("TOVAMI_BINARY", os.path.abspath(os.path.join(args.build, "tovami")))
    parser_cases = args.cases.split(",")
    rows = []
    if "qt" in parser_cases and os.path.exists(os.path.join(args.build, "tests", "fixtures", "qterminal")):
        rows.append(("minimal Qt program, idle", qt_baseline(os.path.abspath(args.build), args.seconds)))
    cases = {"off": ("Tovami, island off", False, False), "collapsed": ("Tovami, island collapsed", True, False),
             "open": ("Tovami, island open, agent idle", True, True)}
    rows += [(name, tovami_run(args.seconds, island, opened))
             for key, (name, island, opened) in cases.items() if key in parser_cases]
    print(f"{'':38s} {'GUI thread':>12s} {'all threads':>12s}  (wake-ups per second)")
    for name, (main_rate, all_rate) in rows:
        print(f"{name:38s} {main_rate:12.2f} {all_rate:12.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
