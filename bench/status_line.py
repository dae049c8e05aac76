#!/usr/bin/python3
"""The status line wrapper's own cost. Claude Code runs its statusLine command through /bin/sh with
one JSON input after each message; with the feed on that command is `tovami --hook status-line
--socket PATH --wrap USER`, which forwards the input and then becomes the user's own command. Each
case is run as Claude Code runs it (`/bin/sh -c COMMAND`, the recorded input on standard input),
interleaved in one run so that the machine's load falls on every case alike; wall time from spawn to
exit, median and p99, and the wrapper's cost as the difference to the user's command alone:

- `user command alone`: the baseline (a small line printer reading its input);
- `wrapped, listening`: the wrapper with a stand-in server reading the forwarded input;
- `wrapped, no socket`: the wrapper with Tovami not running.

    bench/status_line.py [--entry build/tovami] [--runs 1000]
"""

import argparse
import os
import pathlib
import shlex
import socket
import statistics
import subprocess
import tempfile
import threading
import time

HERE = pathlib.Path(__file__).resolve().parent
FIXTURE = HERE / "../tests/fixtures/claude-code/status-line/pro-with-rate-limits.json"
USER = "read -r line; printf '%s\\n' \"${line%%,*}\""


def serve(listener):
    while True:
        connection, _ = listener.accept()
        with connection:
            while connection.recv(65536):
                pass


def command(entry, sock):
    return (f"{shlex.quote(entry)} --hook status-line --socket {shlex.quote(sock)} --wrap {shlex.quote(USER)}"
            " # tovami-status-line")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--entry", default=str(HERE / "../build/tovami"))
    parser.add_argument("--runs", type=int, default=1000)
    args = parser.parse_args()
    folder = tempfile.mkdtemp(prefix="tovami-bench-")
    listening, missing = os.path.join(folder, "agent.sock"), os.path.join(folder, "gone.sock")
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(listening)
    listener.listen(128)
    threading.Thread(target=serve, args=(listener,), daemon=True).start()
    text = FIXTURE.read_bytes()
    cases = {"user command alone": USER, "wrapped, listening": command(args.entry, listening),
             "wrapped, no socket": command(args.entry, missing)}
    outputs = {name: subprocess.run(["/bin/sh", "-c", c], input=text, capture_output=True).stdout
               for name, c in cases.items()}
    assert len(set(outputs.values())) == 1, outputs  # the same line whichever way it runs
    times = {name: [] for name in cases}
    for _ in range(args.runs):
        for name, c in cases.items():
            start = time.perf_counter()
            subprocess.run(["/bin/sh", "-c", c], input=text, stdout=subprocess.DEVNULL)
            times[name].append((time.perf_counter() - start) * 1000)
    base = statistics.median(times["user command alone"])
    print(f"{args.runs} runs each, interleaved; input {len(text)} bytes; ms")
    for name, values in times.items():
        values.sort()
        p50, p99 = statistics.median(values), values[int(len(values) * 0.99) - 1]
        print(f"  {name:22} p50 {p50:6.2f}  p99 {p99:6.2f}  wrapper's cost at p50 {p50 - base:+.2f}")


if __name__ == "__main__":
    main()
