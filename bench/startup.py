#!/usr/bin/python3
"""Start-up to the tray item (a start after the first), under Xvfb with a stand-in tray host: the CPU time (user + sys, all threads, from
/proc/<pid>/task/*/schedstat) a program has used when its tray item registers, and the wall time, for Tovami and
for a minimal Qt tray program (minimal_tray, built with the benchmarks) in the same run, alternating. CPU time
is the figure to compare on a busy machine; wall time follows the load. Also prints the resident memory of both
a few seconds after the start.

A single start's CPU time moves by a fifth from one start to the next here (page faults, caches, the other
core), so medians of 30 starts still differ by 5 % between runs; the least CPU time of the starts is printed
beside the median. --instructions counts instead the instructions each program ran until its tray item
registered, once each under valgrind's callgrind (the count is dumped at that moment): the same figure on
every run, for comparing builds (it leaves out the kernel's share: page faults, mapping the libraries; and the
entry's own 0.1 million before it executes the desktop program).

    bench/startup.py [--build build] [--runs 15] [--instructions]
"""

import argparse
import contextlib
import glob
import os
import statistics
import subprocess
import sys
import tempfile
import time

import dbus

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
import harness  # noqa: E402
import tray  # noqa: E402


def cpu_ns(pid):
    total = 0
    for path in glob.glob(f"/proc/{pid}/task/*/schedstat"):
        try:
            with open(path) as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total


def resident_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


@contextlib.contextmanager
def second_start(argv):
    """A session where `argv` has started once before (a first start writes the preferences), as on any
    login after the first, with a fresh tray host; yields the host's watcher, for the next start."""
    with harness.Session(screen="1440x900", openbox=True) as s:
        s.write_preferences("[General]\nislandOnNonNotch=true\n")
        host = tray.start_fake_host(s)
        first = s._spawn(argv)
        time.sleep(3)
        first.terminate()
        first.wait()
        host.terminate()
        host.wait()
        tray.start_fake_host(s)
        bus = dbus.bus.BusConnection(s.env["DBUS_SESSION_BUS_ADDRESS"])
        yield s, bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")


def registered(watcher):
    return bool(watcher.Get("org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems",
                            dbus_interface=dbus.PROPERTIES_IFACE))


def instructions_to_tray(argv):
    """Instructions `argv` runs until its tray item registers (all threads), under callgrind."""
    with second_start(argv) as (s, watcher), tempfile.TemporaryDirectory() as out:
        process = s._spawn(["valgrind", "--tool=callgrind", "--trace-children=yes", "--dump-instr=no",
                            f"--callgrind-out-file={out}/cg.%p", *argv])
        start = time.perf_counter()
        while not registered(watcher):
            if time.perf_counter() - start > 120:
                raise RuntimeError(f"{argv[0]} never registered a tray item under callgrind")
            time.sleep(0.01)
        subprocess.run(["callgrind_control", "--dump", str(process.pid)], capture_output=True, check=True)
        process.terminate()
        process.wait()
        dumps = glob.glob(f"{out}/cg.{process.pid}.1")
        if not dumps:
            raise RuntimeError("callgrind wrote no dump")
        with open(dumps[0]) as f:
            return next(int(line.split()[1]) for line in f if line.startswith("summary:"))


def one_start(argv, settle):
    """CPU and wall time to the tray item, and the resident memory `settle` seconds later."""
    with second_start(argv) as (s, watcher):
        start = time.perf_counter()
        process = s._spawn(argv)
        while not registered(watcher):
            if time.perf_counter() - start > 20:
                raise RuntimeError(f"{argv[0]} never registered a tray item")
            time.sleep(0.002)
        cpu, wall = cpu_ns(process.pid) / 1e6, (time.perf_counter() - start) * 1000
        time.sleep(settle)
        rss = resident_kb(process.pid) / 1024
        process.terminate()
        process.wait()
        return cpu, wall, rss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--settle", type=float, default=8, help="seconds before the memory is read")
    parser.add_argument("--tovami", action="append", help="a Tovami binary (repeat to compare builds)")
    parser.add_argument("--instructions", action="store_true", help="count instructions under callgrind instead")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    programs = {"minimal Qt tray program": [os.path.join(build, "bench", "minimal_tray")]}
    for binary in args.tovami or [os.path.join(build, "tovami")]:
        programs[f"Tovami {os.path.relpath(binary)}"] = [os.path.abspath(binary)]
    if args.instructions:
        counts = {name: instructions_to_tray(argv) for name, argv in programs.items()}
        base = counts["minimal Qt tray program"]
        for name, count in counts.items():
            print(f"{name:32s} instructions to the tray item {count / 1e6:7.2f} million ({count / base:.3f}x)")
        return 0
    results = {name: [] for name in programs}
    for _ in range(args.runs):
        for name, argv in programs.items():
            results[name].append(one_start(argv, args.settle))
    medians, least = {}, {}
    for name, runs in results.items():
        medians[name] = [statistics.median(r[i] for r in runs) for i in range(3)]
        least[name] = min(r[0] for r in runs)
        cpu, wall, rss = medians[name]
        print(f"{name:32s} CPU to the tray item {cpu:7.1f} ms (least {least[name]:5.1f}), wall {wall:7.1f} ms, "
              f"resident {rss:6.1f} MB")
    base = medians.pop("minimal Qt tray program")
    base_least = least.pop("minimal Qt tray program")
    for name, ours in medians.items():
        print(f"{name}: CPU {ours[0] / base[0]:.2f}x (least {least[name] / base_least:.2f}x), wall {ours[1] / base[1]:.2f}x, "
              f"resident {ours[2] / base[2]:.2f}x the minimal program (medians of {args.runs} starts)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
