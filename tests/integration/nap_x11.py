"""Small X11 probes for the nap tests, through ctypes: the pointer's current image and a
helper client that holds key grabs."""

import ctypes
import ctypes.util
import os
import subprocess
import sys


class _CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def _libs():
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XFree.argtypes = [ctypes.c_void_p]
    return x11


def pointer_visible(display):
    """True when the pointer currently shows any opaque pixel."""
    x11 = _libs()
    xfixes = ctypes.CDLL(ctypes.util.find_library("Xfixes"))
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(_CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        raise RuntimeError("cannot open " + display)
    try:
        image = xfixes.XFixesGetCursorImage(dpy)
        if not image:
            return False
        c = image.contents
        visible = any((c.pixels[i] >> 24) & 0xFF for i in range(c.width * c.height))
        x11.XFree(image)
        return visible
    finally:
        x11.XCloseDisplay(dpy)


# The start of every helper client: Xlib through ctypes, with the calls every client makes.
CLIENT_PREAMBLE = r'''
import ctypes, ctypes.util, sys, time
x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
'''

GRABBER = CLIENT_PREAMBLE + r'''
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XGrabKey.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                         ctypes.c_int]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
errors = []
HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
def on_error(dpy, event):
    errors.append(ctypes.cast(event, ctypes.POINTER(ctypes.c_ubyte))[16])  # error_code
    return 0
handler = HANDLER(on_error)
x11.XSetErrorHandler(handler)
dpy = x11.XOpenDisplay(None)
root = x11.XDefaultRootWindow(dpy)
results = []
for letter in sys.argv[1]:
    del errors[:]
    code = x11.XKeysymToKeycode(dpy, x11.XStringToKeysym(letter.encode()))
    x11.XGrabKey(dpy, code, 4 | 8, root, 1, 1, 1)  # Control | Mod1
    x11.XSync(dpy, 0)
    results.append(letter + ("=taken" if errors else "=ok"))
print(" ".join(results), flush=True)
if sys.argv[2:] == ["hold"]:
    time.sleep(3600)
'''


def grab_keys(env, letters, hold):
    """Runs a client that grabs Ctrl+Alt+<letter> for each letter; returns (process, first line),
    the line saying for each letter whether the grab succeeded ("n=ok") or was refused ("n=taken")."""
    proc = subprocess.Popen([sys.executable, "-c", GRABBER, letters] + (["hold"] if hold else []), env=env,
                            stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline().strip()
    if not hold:
        proc.wait(10)
    return proc, line


POINTER_HOLDER = CLIENT_PREAMBLE + r'''
x11.XGrabPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_uint, ctypes.c_int, ctypes.c_int,
                             ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
dpy = x11.XOpenDisplay(None)
status = x11.XGrabPointer(dpy, x11.XDefaultRootWindow(dpy), 0, 4, 1, 1, 0, 0, 0)  # ButtonPressMask
print("grabbed" if status == 0 else "refused %d" % status, flush=True)
time.sleep(3600)
'''


def hold_pointer(env):
    """A client that holds an active pointer grab until it is killed; returns (process, status line)."""
    proc = subprocess.Popen([sys.executable, "-c", POINTER_HOLDER], env=env, stdout=subprocess.PIPE, text=True)
    return proc, proc.stdout.readline().strip()
