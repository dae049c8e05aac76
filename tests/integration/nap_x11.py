"""Small X11 probes for the nap tests, through ctypes: the pointer's current image, a helper client
that holds key, keyboard or pointer grabs, and one that types the moment a nap darkens the display."""

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
if sys.argv[1] in ("pointer", "keyboard"):
    status = (x11.XGrabPointer(dpy, root, 0, 4, 1, 1, 0, 0, 0) if sys.argv[1] == "pointer"  # ButtonPressMask
              else x11.XGrabKeyboard(dpy, root, 0, 1, 1, 0))
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
    """Runs a client grabbing `what` ("keyboard", "pointer" or letters for Ctrl+Alt+<letter>), holding the grabs
    until killed if `hold`; returns (process, its line): "grabbed" or "refused <status>", or e.g. "n=ok a=taken"."""
    proc = subprocess.Popen([sys.executable, "-c", GRABBER, what] + (["hold"] if hold else []), env=env,
                            stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline().strip()
    if not hold:
        proc.wait(10)
    return proc, line


# A client that presses Ctrl+Alt+N through XTest and types the argument's letters the moment the root
# pixel (20, 20) shows the nap's dark: faster than a person could react.
NAP_THEN_TYPE = r"""
import ctypes, ctypes.util, sys
x11, xtst = ctypes.CDLL(ctypes.util.find_library("X11")), ctypes.CDLL(ctypes.util.find_library("Xtst"))
x11.XOpenDisplay.restype = x11.XGetImage.restype = ctypes.c_void_p
x11.XDefaultRootWindow.restype = x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + [ctypes.c_uint] * 2 + [ctypes.c_ulong, ctypes.c_int]
x11.XDefaultRootWindow.argtypes = x11.XDestroyImage.argtypes = x11.XSync.argtypes = [ctypes.c_void_p]
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
class Image(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int), ("format", ctypes.c_int),
                ("data", ctypes.POINTER(ctypes.c_uint32))]
dpy = x11.XOpenDisplay(None)
def keys(*events):
    for name, down in events:
        xtst.XTestFakeKeyEvent(dpy, x11.XKeysymToKeycode(dpy, x11.XStringToKeysym(name.encode())), down, 0)
    x11.XSync(dpy, 0)
def dark():
    image = x11.XGetImage(dpy, x11.XDefaultRootWindow(dpy), 20, 20, 1, 1, 0xFFFFFF, 2)  # ZPixmap
    rgb = ctypes.cast(image, ctypes.POINTER(Image)).contents.data[0] & 0xFFFFFF
    x11.XDestroyImage(image)
    return rgb != 0 and max(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF) < 40
keys(("Control_L", 1), ("Alt_L", 1), ("n", 1), ("n", 0), ("Alt_L", 0), ("Control_L", 0))
while not dark():
    pass
keys(*[(letter, down) for letter in sys.argv[1] for down in (1, 0)])
print("typed", flush=True)
"""


def nap_then_type(env, letters):
    """Starts a nap with the hot key and types `letters` the moment the display is dark; returns its line."""
    return subprocess.run([sys.executable, "-c", NAP_THEN_TYPE, letters], env=env, stdout=subprocess.PIPE,
                          text=True, timeout=20).stdout.strip()
