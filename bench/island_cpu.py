#!/usr/bin/python3
"""What the island costs at rest, under Xvfb: CPU seconds Tovami uses over a window of time with the island off, with
the pill collapsed (the cat breathing), and open with a working agent (its indicator and the running cat), beside a
minimal Qt program (the tab fixture) left idle over the same window in the same run. Prints each as a share of one
core and the island's cost over the island-off run.

    bench/island_cpu.py [--build build] [--seconds 60]
"""

import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
import harness  # noqa: E402
from island_session import start_island  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime


def measure(pid, seconds):
    before = cpu_seconds(pid)
    time.sleep(seconds)
    return (cpu_seconds(pid) - before) / seconds


def tovami_run(seconds, island, opened):
    with harness.Session(screen="1440x900", openbox=True) as s:
        process = start_island(s, island, opened, busy_seconds=seconds * 3)
        time.sleep(3)  # past the start-up work
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
    args = parser.parse_args()
    os.environ.setdefault("TOVAMI_BINARY", os.path.abspath(os.path.join(args.build, "tovami")))
    rows = [("minimal Qt program, idle", qt_baseline(os.path.abspath(args.build), args.seconds)),
            ("Tovami, island off", tovami_run(args.seconds, False, False)),
            ("Tovami, island collapsed", tovami_run(args.seconds, True, False)),
            ("Tovami, island open, agent working", tovami_run(args.seconds, True, True))]
    for name, share in rows:
        print(f"{name:38s} {share * 100:6.2f} % of one core")
    off = rows[1][1]
    print(f"island collapsed costs {100 * (rows[2][1] - off):+.2f} points, open {100 * (rows[3][1] - off):+.2f} points")
    return 0


if __name__ == "__main__":
    sys.exit(main())
