#!/usr/bin/python3
"""A desktop notification server on the session bus (capabilities from the command line) that records what it is
asked, with a test interface to read the record and to choose an action as the user."""

import json
import sys

import dbus
import dbus.service

import tray

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"
TEST = "app.tovami.test.Notifications"


class Server(dbus.service.Object):
    def __init__(self, bus, capabilities):
        super().__init__(bus, PATH)
        self.capabilities, self.calls, self.next_id = capabilities, [], 1

    @dbus.service.method(NAME, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return self.capabilities

    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        nid = int(replaces) or self.next_id
        if not replaces:
            self.next_id += 1
        self.calls.append({"call": "Notify", "id": nid, "replaces": int(replaces), "summary": str(summary),
                           "body": str(body), "actions": [str(a) for a in actions],
                           "urgency": int(hints.get("urgency", 1)), "timeout": int(timeout)})
        return nid

    @dbus.service.method(NAME, in_signature="u")
    def CloseNotification(self, nid):
        self.calls.append({"call": "CloseNotification", "id": int(nid)})
        self.NotificationClosed(nid, 3)

    @dbus.service.signal(NAME, signature="uu")
    def NotificationClosed(self, nid, reason):
        pass

    @dbus.service.signal(NAME, signature="us")
    def ActionInvoked(self, nid, key):
        pass

    @dbus.service.method(TEST, in_signature="", out_signature="s")
    def Calls(self):
        return json.dumps(self.calls)

    @dbus.service.method(TEST, in_signature="us")
    def Invoke(self, nid, key):
        """The user chose the action `key` of notification `nid`; the server closes it, as most do."""
        self.ActionInvoked(nid, key)
        self.NotificationClosed(nid, 2)


def calls(session):
    """What the server running on `session`'s bus was asked so far."""
    bus = dbus.bus.BusConnection(session.env["DBUS_SESSION_BUS_ADDRESS"])
    return json.loads(str(bus.get_object(NAME, PATH).Calls(dbus_interface=TEST)))


def invoke(session, nid, key):
    bus = dbus.bus.BusConnection(session.env["DBUS_SESSION_BUS_ADDRESS"])
    bus.get_object(NAME, PATH).Invoke(dbus.UInt32(nid), key, dbus_interface=TEST)


def start(session, capabilities=("body", "actions")):
    return session.start_helper("fake_notifications.py", *capabilities)


if __name__ == "__main__":
    tray.serve(NAME, lambda bus: Server(bus, sys.argv[1:] or ["body", "actions"]))
