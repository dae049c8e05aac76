#!/usr/bin/python3
"""A stand-in for the desktop's settings portal answering enable-animations with the value on the command line
("true" or "false"); SIGUSR1 flips it and announces it with SettingChanged."""

import signal
import sys

import dbus
import dbus.service
from gi.repository import GLib

import tray

SETTINGS = "org.freedesktop.portal.Settings"
KEY = ("org.gnome.desktop.interface", "enable-animations")


class Settings(dbus.service.Object):
    def __init__(self, bus, animations):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.animations = animations

    @dbus.service.method(SETTINGS, in_signature="ss", out_signature="v")
    def ReadOne(self, namespace, key):
        if (namespace, key) != KEY:
            raise dbus.exceptions.DBusException("not found", name="org.freedesktop.portal.Error.NotFound")
        return dbus.Boolean(self.animations)

    @dbus.service.signal(SETTINGS, signature="ssv")
    def SettingChanged(self, namespace, key, value):
        pass

    def flip(self):
        self.animations = not self.animations
        self.SettingChanged(*KEY, dbus.Boolean(self.animations, variant_level=1))
        return False


def started(bus):
    settings = Settings(bus, sys.argv[1] == "true")
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, settings.flip)
    return settings


if __name__ == "__main__":
    tray.serve("org.freedesktop.portal.Desktop", started)
