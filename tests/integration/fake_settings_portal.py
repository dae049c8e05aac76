#!/usr/bin/python3
"""A stand-in for the desktop's settings portal on the session bus that answers one setting:
org.gnome.desktop.interface enable-animations, with the value given on the command line
("true" or "false"). Prints "ready" once it owns its name."""

import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

PORTAL = "org.freedesktop.portal.Desktop"
SETTINGS = "org.freedesktop.portal.Settings"


class Settings(dbus.service.Object):
    def __init__(self, bus, animations):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.animations = animations

    def _value(self, namespace, key):
        if (namespace, key) != ("org.gnome.desktop.interface", "enable-animations"):
            raise dbus.exceptions.DBusException("not found", name="org.freedesktop.portal.Error.NotFound")
        return dbus.Boolean(self.animations)

    @dbus.service.method(SETTINGS, in_signature="ss", out_signature="v")
    def ReadOne(self, namespace, key):
        return self._value(namespace, key)

    @dbus.service.method(SETTINGS, in_signature="ss", out_signature="v")
    def Read(self, namespace, key):
        return dbus.Struct([self._value(namespace, key)], signature="v", variant_level=1)


if __name__ == "__main__":
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(PORTAL, bus)
    settings = Settings(bus, sys.argv[1] == "true")
    print("ready", flush=True)
    GLib.MainLoop().run()
