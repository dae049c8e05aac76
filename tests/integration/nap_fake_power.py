"""Stand-ins for the desktop's screen saver (session bus) and logind (the bus named by
DBUS_SYSTEM_BUS_ADDRESS). Every call is appended as one line to the file named on the command
line; "ready" is written once both names are owned."""

import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
LOG = open(sys.argv[1], "a", buffering=1)


def note(line):
    LOG.write(line + "\n")


class ScreenSaver(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/ScreenSaver")
        self.next_cookie = 7

    @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="ss", out_signature="u")
    def Inhibit(self, application, reason):
        cookie = self.next_cookie
        self.next_cookie += 1
        note(f"screensaver inhibit {cookie} {application}|{reason}")
        return dbus.UInt32(cookie)

    @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="u", out_signature="")
    def UnInhibit(self, cookie):
        note(f"screensaver uninhibit {cookie}")

    @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="", out_signature="")
    def SimulateUserActivity(self):
        note("screensaver activity")


class Logind(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/login1")
        self.count = 0

    @dbus.service.method("org.freedesktop.login1.Manager", in_signature="ssss", out_signature="h")
    def Inhibit(self, what, who, why, mode):
        self.count += 1
        number = self.count
        read_end, write_end = os.pipe()
        note(f"logind inhibit {number} {what}|{who}|{why}|{mode}")

        def closed(fd, condition):
            note(f"logind released {number}")
            os.close(fd)
            return False

        GLib.io_add_watch(read_end, GLib.IO_HUP | GLib.IO_ERR, closed)
        fd = dbus.types.UnixFd(write_end)  # a copy travels to the caller
        os.close(write_end)
        return fd


session = dbus.SessionBus()
system = dbus.bus.BusConnection(os.environ["DBUS_SYSTEM_BUS_ADDRESS"])
names = [dbus.service.BusName("org.freedesktop.ScreenSaver", session),
         dbus.service.BusName("org.freedesktop.login1", system)]
objects = [ScreenSaver(session), Logind(system)]
note("ready")
GLib.MainLoop().run()
