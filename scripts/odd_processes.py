#!/usr/bin/python3
"""Keeps processes running that tests reading the whole machine must hold: command lines with
newlines, tabs, invalid UTF-8 and a 100 kB argument, a process renaming itself as kernel workers
do, and short-lived processes coming and going. CI starts it before `make test`.

odd_processes.py [SECONDS]: ends by itself after SECONDS (default 3 h), or on SIGTERM, with
everything it started."""

import os
import signal
import subprocess
import sys
import time

IDLE = b"while :; do sleep 1; done"  # keeps sh alive, with a sleep coming and going each second


def start_all():
    spawn = lambda argv: subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL)
    return [
        # A multi-line script given with -c: ps shows its newlines as "?".
        spawn([sys.executable, "-c", "import time\nwhile True:\n    time.sleep(1)\n"]),
        spawn([b"/bin/sh", b"-c", IDLE, b"tab\there", b"line\nbreak"]),
        spawn([b"/bin/sh", b"-c", IDLE, b"bad-utf8-\xff\xfe\xc3(", b"claude\xff"]),
        spawn([b"/bin/sh", b"-c", IDLE, b"huge", b"A" * 100_000]),
        # Renames itself every 100 ms, as kernel workers do when they take on work.
        spawn([sys.executable, "-c",
               "import itertools, time\n"
               "for i in itertools.count():\n"
               "    open('/proc/self/comm', 'w').write(('kworker/u8:%d' % (i % 7)) if i % 2 else 'odd\\tname\\n')\n"
               "    time.sleep(0.1)\n"]),
        # Short-lived processes, ten a second.
        spawn([b"/bin/sh", b"-c", b"while :; do /bin/true; sleep 0.1; done"]),
    ]


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 3 * 3600
    children = start_all()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            time.sleep(1)
    finally:
        for child in children:
            child.kill()
            child.wait()


if __name__ == "__main__":
    main()
