#!/usr/bin/python3
"""Reopening the settings window, under Xvfb at 1280x800 with openbox: bench/settings_reopen (built with the
benchmarks) times each open from the request to the window's first exposure, for the kept settings window,
one rebuilt at each open and a kept minimal Qt window, alternating in one process, and prints the medians.

    bench/settings_reopen.py [--build build] [--runs 30]
"""

import argparse
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
import harness  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--runs", type=int, default=30)
    args = parser.parse_args()
    with harness.Session(screen="1280x800", openbox=True) as s:
        result = s.run([os.path.join(os.path.abspath(args.build), "bench", "settings_reopen"), str(args.runs)],
                       timeout=600)
        print(result.stdout + result.stderr, end="")
        return result.returncode


if __name__ == "__main__":
    sys.exit(main())
