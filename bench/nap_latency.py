#!/usr/bin/python3
"""How fast a nap covers the screens: from Ctrl+Alt+N sent with XTest to every display's pixels
covered, under Xvfb with one and with two displays, against a bare xcb program that maps one dark
window per display on the same key (bare_xcb_cover, built with the benchmarks) in the same run,
after an untimed cover by another one.
Each layout runs --rounds fresh sessions: a program's first cover in a session (Tovami's first nap, the bare
program's first timed cover, each two seconds after the program's start) is one sample per round, compared
median to median; later naps pool the rounds.
Prints the medians, their ratio, how long the nap start kept Tovami's GUI thread busy (and the windows'
show that follows the cover a few milliseconds later), and the share of one core an idle nap takes.

    bench/nap_latency.py [--build build] [--naps 20] [--rounds 3] [--points]
"""

import argparse
import ctypes
import ctypes.util
import os
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
import harness  # noqa: E402

POINTS = False
# Seconds between a program's start and its first timed cover, the same for both: Tovami's launch (its
# services start at 0.3 s, the first agent scans follow until about 1.3 s) is over by then.
SETTLE = 2.0
LAYOUTS = {"one display": ("1280x800", [(1280, 800, 0, 0)]),
           "two displays": ("2304x800", [(1280, 800, 0, 0), (1024, 768, 1280, 0)])}


class _Image(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_uint32))]


class Probe:
    """One Xlib connection that sends keys through XTest and reads root-window pixels."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XGetImage.restype = ctypes.POINTER(_Image)
        self.x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                       ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x11.XDestroyImage.argtypes = [ctypes.POINTER(_Image)]
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.dpy = self.x11.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open " + display)
        self.root = self.x11.XDefaultRootWindow(self.dpy)

    def close(self):
        self.x11.XCloseDisplay(self.dpy)

    def keys(self, *events):
        """events: (name, pressed) pairs, sent in order, then synced."""
        for name, pressed in events:
            code = self.x11.XKeysymToKeycode(self.dpy, self.x11.XStringToKeysym(name.encode()))
            self.xtst.XTestFakeKeyEvent(self.dpy, code, int(pressed), 0)
        self.x11.XSync(self.dpy, 0)

    def nap_key(self):
        self.keys(("Control_L", True), ("Alt_L", True), ("n", True), ("n", False), ("Alt_L", False),
                  ("Control_L", False))

    def row(self, x, y, width):
        image = self.x11.XGetImage(self.dpy, self.root, x, y, width, 1, 0xFFFFFF, 2)  # ZPixmap
        if not image:
            return []
        pixels = [image.contents.data[i] & 0xFFFFFF for i in range(width)]
        self.x11.XDestroyImage(image)
        return pixels

    def row_bytes(self, x, y, width):
        """One row of the root window as its 32-bit pixels' bytes (blue, green, red, pad)."""
        image = self.x11.XGetImage(self.dpy, self.root, x, y, width, 1, 0xFFFFFF, 2)  # ZPixmap
        if not image:
            return b""
        data = ctypes.string_at(image.contents.data, 4 * width)
        self.x11.XDestroyImage(image)
        return data

    def covered(self, monitors):
        """True when the top and bottom rows of every monitor show the dark (not Xvfb's black root).
        Checked with bytes operations, not a loop per pixel: a poll costs tens of microseconds, so it
        does not round every figure up to the probe's own step."""
        for (w, h, x, y) in monitors:
            for row_y in (y + 2, y + h - 3):
                data = self.row_bytes(x, row_y, w)
                if len(data) != 4 * w:
                    return False
                channels = [data[i::4] for i in range(3)]
                if max(max(c) for c in channels) >= 40:
                    return False
                lit = 0
                for c in channels:
                    lit |= int.from_bytes(c, "little")
                if b"\0" in lit.to_bytes(w, "little"):  # a pixel still black: not covered yet
                    return False
        return True

    def covered_at_points(self, monitors):
        """The independent probe: True when a few points of every monitor (its centre and four points near its
        corners) show the dark. Cheaper per poll than whole rows, so it sees the dark sooner after it comes."""
        for (w, h, x, y) in monitors:
            for px, py in ((x + w // 2, y + h // 2), (x + 2, y + 2), (x + w - 3, y + 2), (x + 2, y + h - 3),
                           (x + w - 3, y + h - 3)):
                pixel = self.row(px, py, 1)
                if not pixel:
                    return False
                r, g, b = pixel[0] >> 16, (pixel[0] >> 8) & 0xFF, pixel[0] & 0xFF
                if pixel[0] == 0 or max(r, g, b) >= 40:
                    return False
        return True

    def uncovered(self, monitors):
        return all(p == 0 for (w, h, x, y) in monitors for p in self.row(x, y + 2, w))


def time_naps(probe, monitors, naps, wake):
    """Seconds from the nap key to every monitor covered, for each of `naps` naps."""
    times = []
    for _ in range(naps):
        start = time.perf_counter()
        probe.nap_key()
        while not (probe.covered_at_points(monitors) if POINTS else probe.covered(monitors)):
            if time.perf_counter() - start > 10:
                raise RuntimeError("the screens were never covered")
        times.append(time.perf_counter() - start)
        probe.keys((wake, True), (wake, False))
        deadline = time.monotonic() + 10
        while not probe.uncovered(monitors):
            if time.monotonic() > deadline:
                raise RuntimeError("the cover never left")
            time.sleep(0.005)
        time.sleep(0.25)
    return times


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def idle_share(session, probe, monitors, seconds=10):
    """The share of one core the whole program takes during an idle nap (the cat breathes and strolls)."""
    probe.nap_key()
    while not probe.covered(monitors):
        pass
    time.sleep(1)
    start_cpu, start = cpu_seconds(session.tovami.pid), time.monotonic()
    time.sleep(seconds)
    share = (cpu_seconds(session.tovami.pid) - start_cpu) / (time.monotonic() - start)
    probe.keys(("space", True), ("space", False))
    return share


def measure(layout, build, naps):
    screen, monitors = LAYOUTS[layout]
    with harness.Session(screen=screen, monitors=monitors) as s:
        def start_bare():
            bare = s._spawn([os.path.join(build, "bench", "bare_xcb_cover")], stdout=subprocess.PIPE)
            if bare.stdout.readline().strip() != b"ready":
                raise RuntimeError("bare_xcb_cover did not start")
            return bare

        probe = Probe(s.display)
        try:
            # The first cover of a display costs its program 2-3 ms more: an untimed one by another program.
            warm = start_bare()
            time_naps(probe, monitors, 1, "Escape")
            warm.terminate()
            warm.wait()
            bare = start_bare()
            time.sleep(SETTLE)
            bare_times = time_naps(probe, monitors, naps, "Escape")
            bare.terminate()
            bare.wait()
            s.start_tovami()
            if not s.wait_for_log("tovami started"):
                raise RuntimeError("tovami did not start:\n" + s.log_text())
            time.sleep(SETTLE)
            nap_times = time_naps(probe, monitors, naps, "space")
            busy = [float(v) for v in re.findall(r"GUI thread busy for ([0-9.]+) ms at nap start", s.log_text())]
            shown = [float(v) for v in re.findall(r"windows shown in ([0-9.]+) ms after the cover", s.log_text())]
            idle = idle_share(s, probe, monitors)
        finally:
            probe.close()
    return bare_times, nap_times, busy, shown, idle


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    parser.add_argument("--naps", type=int, default=20)
    parser.add_argument("--rounds", type=int, default=3,
                        help="fresh sessions per layout: each gives one first nap and one first bare cover")
    parser.add_argument("--points", action="store_true", help="poll a few points per display, not whole rows")
    args = parser.parse_args()
    global POINTS
    POINTS = args.points
    build = os.path.abspath(args.build)
    os.environ.setdefault("TOVAMI_BINARY", os.path.join(build, "tovami"))
    harness.BINARY = os.environ["TOVAMI_BINARY"]
    ms = lambda seconds: 1000 * seconds  # noqa: E731
    median = statistics.median
    for layout in LAYOUTS:
        rounds = [measure(layout, build, args.naps) for _ in range(args.rounds)]
        bare_first, nap_first = [r[0][0] for r in rounds], [r[1][0] for r in rounds]
        bare_later = [t for r in rounds for t in r[0][1:]]
        nap_later = [t for r in rounds for t in r[1][1:]]
        busy = [b for r in rounds for b in r[2]]
        shown = [v for r in rounds for v in r[3]]
        print(f"{layout}: first nap {ms(median(nap_first)):.2f} ms against the bare window's first cover "
              f"{ms(median(bare_first)):.2f} ms: {median(nap_first) / median(bare_first):.2f}x "
              f"(medians of {args.rounds} rounds; each round: " +
              ", ".join(f"{n / b:.2f}x" for n, b in zip(nap_first, bare_first)) + ")")
        print(f"{layout}: later naps {ms(median(nap_later)):.2f} ms (max {ms(max(nap_later)):.2f}) against "
              f"{ms(median(bare_later)):.2f} ms: {median(nap_later) / median(bare_later):.2f}x "
              f"(medians of {len(nap_later)} naps)")
        print(f"{layout}: an idle nap takes {100 * median(r[4] for r in rounds):.2f} % of one core")
        if busy:
            print(f"{layout}: GUI thread busy at nap start: median {median(busy):.2f} ms, max {max(busy):.2f} ms")
        if shown:
            print(f"{layout}: then Qt's show of the windows, a few ms later: median {median(shown):.2f} ms")


if __name__ == "__main__":
    main()
