"""Small X11 probes for the nap tests, through ctypes: the pointer's current image and a
helper client that holds key, keyboard or pointer grabs."""

import ctypes
import ctypes.util
import subprocess
import sys


class _CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def pointer_visible(display):
    """True when the pointer currently shows any opaque pixel."""
    x11, xfixes = ctypes.CDLL(ctypes.util.find_library("X11")), ctypes.CDLL(ctypes.util.find_library("Xfixes"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XCloseDisplay.argtypes = x11.XFree.argtypes = xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(_CursorImage)
    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        raise RuntimeError("cannot open " + display)
    try:
        image = xfixes.XFixesGetCursorImage(dpy)
        c = image.contents if image else None
        visible = bool(c) and any((c.pixels[i] >> 24) & 0xFF for i in range(c.width * c.height))
        if image:
            x11.XFree(image)
        return visible
    finally:
        x11.XCloseDisplay(dpy)


# A helper client that grabs what it is asked to and says how each grab went; with "hold" it keeps
# them until it is killed.
GRABBER = r"""
import ctypes, ctypes.util, sys, time
x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XGrabKey.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_uint, ctypes.c_ulong] + [ctypes.c_int] * 3
x11.XGrabKeyboard.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 3 + [ctypes.c_ulong]
x11.XGrabPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_uint, ctypes.c_int, ctypes.c_int,
                             ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
errors = []
HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
handler = HANDLER(lambda dpy, event: errors.append(ctypes.cast(event, ctypes.POINTER(ctypes.c_ubyte))[16]) or 0)
x11.XSetErrorHandler(handler)
dpy = x11.XOpenDisplay(None)
root = x11.XDefaultRootWindow(dpy)
if sys.argv[1] == "pointer":
    status = x11.XGrabPointer(dpy, root, 0, 4, 1, 1, 0, 0, 0)  # ButtonPressMask
    print("grabbed" if status == 0 else "refused %d" % status, flush=True)
elif sys.argv[1] == "keyboard":
    status = x11.XGrabKeyboard(dpy, root, 0, 1, 1, 0)
    print("grabbed" if status == 0 else "refused %d" % status, flush=True)
else:  # Ctrl+Alt+<letter> for each letter of the argument
    results = []
    for letter in sys.argv[1]:
        del errors[:]
        x11.XGrabKey(dpy, x11.XKeysymToKeycode(dpy, x11.XStringToKeysym(letter.encode())), 4 | 8, root, 1, 1, 1)
        x11.XSync(dpy, 0)
        results.append(letter + ("=taken" if errors else "=ok"))
    print(" ".join(results), flush=True)
if sys.argv[2:] == ["hold"]:
    time.sleep(3600)
"""


def grab(env, what, hold=True):
    """Runs the client for `what` ("keyboard", "pointer" or letters for Ctrl+Alt+<letter>); returns (process,
    its line): "grabbed" or "refused <status>", or for letters e.g. "n=ok a=taken"."""
    proc = subprocess.Popen([sys.executable, "-c", GRABBER, what] + (["hold"] if hold else []), env=env,
                            stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline().strip()
    if not hold:
        proc.wait(10)
    return proc, line
