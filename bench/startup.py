#!/usr/bin/python3
"""Start-up to the tray item (a start after the first), under Xvfb with a stand-in tray host: the CPU time (user + sys, all threads, from
/proc/<pid>/task/*/schedstat) a program has used when its tray item registers, and the wall time, for Tovami and
for a minimal Qt tray program (minimal_tray, built with the benchmarks) in the same run, alternating. CPU time
is the figure to compare on a busy machine; wall time follows the load. Also prints the resident memory of both
a few seconds after the start.

    bench/startup.py [--build build] [--runs 15]
"""

import argparse
import glob
import os
import statistics
import sys
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


def one_start(argv, settle):
    """A start as on any login after the first: the preferences exist (a first start writes them)."""
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
        watcher = bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
        start = time.perf_counter()
        process = s._spawn(argv)
        while True:
            items = watcher.Get("org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems",
                                dbus_interface=dbus.PROPERTIES_IFACE)
            if items:
                cpu, wall = cpu_ns(process.pid) / 1e6, (time.perf_counter() - start) * 1000
                break
            if time.perf_counter() - start > 20:
                raise RuntimeError(f"{argv[0]} never registered a tray item")
            time.sleep(0.002)
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
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    programs = {"minimal Qt tray program": [os.path.join(build, "bench", "minimal_tray")]}
    for binary in args.tovami or [os.path.join(build, "tovami")]:
        programs[f"Tovami {os.path.relpath(binary)}"] = [os.path.abspath(binary)]
    results = {name: [] for name in programs}
    for _ in range(args.runs):
        for name, argv in programs.items():
            results[name].append(one_start(argv, args.settle))
    medians = {}
    for name, runs in results.items():
        medians[name] = [statistics.median(r[i] for r in runs) for i in range(3)]
        cpu, wall, rss = medians[name]
        print(f"{name:32s} CPU to the tray item {cpu:7.1f} ms, wall {wall:7.1f} ms, resident {rss:6.1f} MB")
    base = medians.pop("minimal Qt tray program")
    for name, ours in medians.items():
        print(f"{name}: CPU {ours[0] / base[0]:.2f}x, wall {ours[1] / base[1]:.2f}x, resident {ours[2] / base[2]:.2f}x "
              f"the minimal program (medians of {args.runs} starts)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
