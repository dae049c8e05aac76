#!/usr/bin/python3
"""A stand-in for the desktop's GlobalShortcuts portal (and its host registry) on the session bus, driven through
PortalControl (Press, Rebind, Calls). --refuse declines BindShortcuts; --rebind ID=KEYS binds KEYS instead of ID's
preferred trigger. Killing it is the portal vanishing. Prints "ready" once it owns its name."""

import argparse

import dbus
import dbus.service
from gi.repository import GLib

import tray

PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
CONTROL = "app.tovami.test.PortalControl"


def described(trigger):
    """"CTRL+ALT+n" as a desktop shows it: "Ctrl+Alt+N"."""
    return "+".join(part.capitalize() if len(part) > 1 else part.upper() for part in trigger.split("+"))


class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, response, results):
        pass


class Session(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Session", signature="a{sv}")
    def Closed(self, details):
        pass

    @dbus.service.method("org.freedesktop.portal.Session", in_signature="", out_signature="")
    def Close(self):
        pass


class Portal(dbus.service.Object):
    def __init__(self, bus, refuse, rebind):
        super().__init__(bus, PATH)
        self.bus, self.refuse, self.rebind = bus, refuse, rebind
        self.calls, self.sessions, self.bound = [], {}, {}

    def _answer(self, sender, token, response, results):
        path = f"{PATH}/request/{sender[1:].replace('.', '_')}/{token}"
        request = Request(self.bus, path)
        # Answered from the main loop, after the call's reply, as the real portal does.
        GLib.timeout_add(20, lambda: (request.Response(dbus.UInt32(response), results), False)[1])
        return dbus.ObjectPath(path)

    @dbus.service.method("org.freedesktop.host.portal.Registry", in_signature="sa{sv}", out_signature="")
    def Register(self, app_id, options):
        self.calls.append(f"Register {app_id}")

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if (interface, name) != (SHORTCUTS, "version"):
            raise dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.UnknownProperty")
        return dbus.UInt32(1, variant_level=1)

    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender):
        self.calls.append("CreateSession")
        path = f"{PATH}/session/{sender[1:].replace('.', '_')}/{options['session_handle_token']}"
        self.sessions[path] = Session(self.bus, path)
        return self._answer(sender, options["handle_token"], 0, {"session_handle": dbus.String(path)})

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o", sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent, options, sender):
        self.calls.append("BindShortcuts " + " ".join(f"{i}={p.get('preferred_trigger', '')}" for i, p in shortcuts))
        if self.refuse or session not in self.sessions:
            return self._answer(sender, options["handle_token"], 2, {})
        self.session = session
        self.bound = {str(i): self.rebind.get(str(i), described(str(p.get("preferred_trigger", ""))))
                      for i, p in shortcuts}
        return self._answer(sender, options["handle_token"], 0, {"shortcuts": self._list()})

    def _list(self):
        return dbus.Array([dbus.Struct((i, {"description": dbus.String(i, variant_level=1),
                                            "trigger_description": dbus.String(keys, variant_level=1)}))
                           for i, keys in self.bound.items()], signature="(sa{sv})")

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session, shortcut, timestamp, options):
        pass

    @dbus.service.signal(SHORTCUTS, signature="oa(sa{sv})")
    def ShortcutsChanged(self, session, shortcuts):
        pass

    @dbus.service.method(CONTROL, in_signature="s", out_signature="")
    def Press(self, shortcut):
        self.Activated(dbus.ObjectPath(self.session), shortcut, dbus.UInt64(0), dbus.Dictionary({}, signature="sv"))

    @dbus.service.method(CONTROL, in_signature="ss", out_signature="")
    def Rebind(self, shortcut, keys):
        self.bound[shortcut] = keys
        self.ShortcutsChanged(dbus.ObjectPath(self.session), self._list())

    @dbus.service.method(CONTROL, in_signature="", out_signature="as")
    def Calls(self):
        return self.calls


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--refuse", action="store_true")
    parser.add_argument("--rebind", action="append", default=[])
    args = parser.parse_args()
    tray.serve("org.freedesktop.portal.Desktop",
               lambda bus: Portal(bus, args.refuse, dict(item.split("=", 1) for item in args.rebind)))
