#!/usr/bin/python3
"""Holds RandR monitors (the server drops a client's monitors when it disconnects): each line on stdin, a JSON list
of [width, height, x, y], becomes exactly the monitors M0, M1, ..., the first taking the screen's output so that the
server's own whole-screen monitor is not listed beside them. Prints "ready" after each change."""

import ctypes
import ctypes.util
import json
import sys


class MonitorInfo(ctypes.Structure):
    _fields_ = [("name", ctypes.c_ulong), ("primary", ctypes.c_int), ("automatic", ctypes.c_int),
                ("noutput", ctypes.c_int), ("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("mwidth", ctypes.c_int), ("mheight", ctypes.c_int),
                ("outputs", ctypes.POINTER(ctypes.c_ulong))]


class ScreenResources(ctypes.Structure):
    _fields_ = [("timestamp", ctypes.c_ulong), ("configTimestamp", ctypes.c_ulong), ("ncrtc", ctypes.c_int),
                ("crtcs", ctypes.c_void_p), ("noutput", ctypes.c_int), ("outputs", ctypes.POINTER(ctypes.c_ulong))]


def main():
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    xrandr = ctypes.CDLL(ctypes.util.find_library("Xrandr"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    xrandr.XRRGetScreenResources.restype = ctypes.POINTER(ScreenResources)
    xrandr.XRRGetScreenResources.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    xrandr.XRRSetMonitor.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(MonitorInfo)]
    xrandr.XRRDeleteMonitor.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong]

    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("x_monitors: cannot open the display")
    root = x11.XDefaultRootWindow(display)
    resources = xrandr.XRRGetScreenResources(display, root)
    output = (ctypes.c_ulong * 1)(resources.contents.outputs[0]) if resources and resources.contents.noutput else None
    held = 0
    for line in sys.stdin:
        monitors = json.loads(line)
        for index in range(held):
            xrandr.XRRDeleteMonitor(display, root, x11.XInternAtom(display, b"M%d" % index, 0))
        for index, (width, height, x, y) in enumerate(monitors):
            # Millimetres at about 96 dpi keep Qt's scale at 1.
            info = MonitorInfo(x11.XInternAtom(display, b"M%d" % index, 0), int(index == 0), 0,
                               1 if index == 0 and output else 0, x, y, width, height, round(width * 0.2646),
                               round(height * 0.2646), output if index == 0 else None)
            xrandr.XRRSetMonitor(display, root, ctypes.byref(info))
        held = len(monitors)
        x11.XSync(display, 0)
        print("ready", flush=True)


if __name__ == "__main__":
    main()
