"""Stand-ins for the desktop's screen saver (session bus) and logind (DBUS_SYSTEM_BUS_ADDRESS): each call is a
line of the file named on the command line, after "ready" once both names are owned."""

import os
import sys

from harness import wait_for


def start(session):
    """Runs the stand-ins for a test; returns a function that reads the calls so far."""
    path = os.path.join(session.root, "power-calls.txt")
    session._spawn(["/usr/bin/python3", os.path.abspath(__file__), path])
    calls = lambda: open(path).read() if os.path.exists(path) else ""  # noqa: E731
    if not wait_for(lambda: "ready" in calls()):
        raise RuntimeError("the fake power services did not start")
    return calls


def serve(log):
    import dbus
    import dbus.mainloop.glib
    import dbus.service
    from gi.repository import GLib

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)

    class ScreenSaver(dbus.service.Object):
        cookie = 6

        @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="ss", out_signature="u")
        def Inhibit(self, application, reason):
            self.cookie += 1
            log(f"screensaver inhibit {self.cookie} {application}|{reason}")
            return dbus.UInt32(self.cookie)

        @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="u", out_signature="")
        def UnInhibit(self, cookie):
            log(f"screensaver uninhibit {cookie}")

        @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="", out_signature="")
        def SimulateUserActivity(self):
            log("screensaver activity")

    class Logind(dbus.service.Object):
        count = 0

        @dbus.service.method("org.freedesktop.login1.Manager", in_signature="ssss", out_signature="h")
        def Inhibit(self, what, who, why, mode):
            self.count += 1
            number, (read_end, write_end) = self.count, os.pipe()
            log(f"logind inhibit {number} {what}|{who}|{why}|{mode}")
            GLib.io_add_watch(read_end, GLib.IO_HUP | GLib.IO_ERR,
                              lambda fd, _: log(f"logind released {number}") or os.close(fd) or False)
            fd = dbus.types.UnixFd(write_end)  # a copy travels to the caller
            os.close(write_end)
            return fd

    session, system = dbus.SessionBus(), dbus.bus.BusConnection(os.environ["DBUS_SYSTEM_BUS_ADDRESS"])
    keep = [dbus.service.BusName("org.freedesktop.ScreenSaver", session), ScreenSaver(session, "/ScreenSaver"),
            dbus.service.BusName("org.freedesktop.login1", system), Logind(system, "/org/freedesktop/login1")]
    log("ready")
    GLib.MainLoop().run()
    return keep


if __name__ == "__main__":
    out = open(sys.argv[1], "a", buffering=1)
    serve(lambda line: print(line, file=out))
