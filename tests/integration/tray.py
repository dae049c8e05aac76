"""Reaches Tovami's tray menu the way a desktop's tray host does: over D-Bus (StatusNotifierItem
plus com.canonical.dbusmenu)."""

import time

import dbus
import dbus.service

from harness import wait_for

ITEM = "org.kde.StatusNotifierItem"


def start_fake_host(session):
    return session.start_helper("fake_tray_host.py")


def serve(name, make):
    """Runs a stand-in service (the fake_*.py scripts): the object `make(bus)` on the session bus under `name`;
    prints "ready" once the name is owned."""
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    kept = [make(bus), dbus.service.BusName(name, bus)]
    print("ready", flush=True)
    GLib.MainLoop().run()
    return kept


def start_with_item(session, env=None, timeout=10):
    """Starts a tray host, then the program; returns its item (an AssertionError with the log if none comes)."""
    start_fake_host(session)
    session.start_tovami(env=env)
    item = find_item(session, timeout)
    if not item:
        raise AssertionError("the tray item never registered:\n" + session.log_text())
    return item


def _get(session, name, path, interface, prop):
    bus = dbus.bus.BusConnection(session.env["DBUS_SESSION_BUS_ADDRESS"])
    return bus, bus.get_object(name, path).Get(interface, prop, dbus_interface=dbus.PROPERTIES_IFACE)


def find_item(session, timeout=10):
    """(bus name, object path) of the first tray item registered with the host, or None."""
    def lookup():
        _, items = _get(session, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                        "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems")
        return items and (str(items[0]).partition("/")[0], "/" + str(items[0]).partition("/")[2])
    return wait_for(lookup, timeout)


def menu_layout(session, item):
    """The menu object and its entries as (id, label, enabled, type)."""
    bus, menu_path = _get(session, *item, ITEM, "Menu")
    menu = bus.get_object(item[0], menu_path)
    _, layout = menu.GetLayout(0, -1, dbus.Array([], signature="s"), dbus_interface="com.canonical.dbusmenu")
    return menu, [(int(child[0]), str(child[1].get("label", "")), bool(child[1].get("enabled", True)),
                   str(child[1].get("type", "standard"))) for child in layout[2]]


def labels(session, item):
    return [label for _, label, _, kind in menu_layout(session, item)[1] if kind != "separator"]


def labels_now(session, item):
    """The labels, or none while the menu is being rebuilt."""
    try:
        return labels(session, item)
    except Exception:  # noqa: BLE001 - any failure of a half-built menu
        return []


def click(session, item, label):
    menu, entries = menu_layout(session, item)
    for entry_id, entry_label, _, _ in entries:
        if entry_label.replace("_", "") == label:
            menu.Event(entry_id, "clicked", dbus.String("", variant_level=1), dbus.UInt32(int(time.time())),
                       dbus_interface="com.canonical.dbusmenu")
            return True
    raise KeyError(f"no menu entry {label!r} in {[e[1] for e in entries]}")


def tooltip(session, item):
    """The tooltip's title and text, joined by a line feed."""
    _, (_, _, title, text) = _get(session, *item, ITEM, "ToolTip")
    return "\n".join(part for part in (str(title), str(text)) if part)


def icon_has_dot(session, item):
    """Whether the item's icon shows the dot of a waiting approval rather than the sleeping cat's "Z": a point
    inside the dot, left of the Z's diagonal, is lit only in the first."""
    _, pixmaps = _get(session, *item, ITEM, "IconPixmap")
    width, height, data = max(pixmaps, key=lambda p: int(p[0]))
    x, y = int(9.2 * int(width) / 44), int(10.6 * int(height) / 44)
    alpha, red = (int(b) for b in data[4 * (y * int(width) + x):][:2])  # ARGB, network order
    return alpha > 200 and red > 200


class LayoutUpdates:
    """Counts the menu's LayoutUpdated signals on the session bus (each has the host read the whole menu again)."""

    def __init__(self, session):
        self.path = f"{session.root}/layout-updates.{time.monotonic_ns()}"
        self._out = open(self.path, "w")
        session._spawn(["dbus-monitor", "--address", session.env["DBUS_SESSION_BUS_ADDRESS"],
                        "type='signal',interface='com.canonical.dbusmenu',member='LayoutUpdated'"], stdout=self._out)
        wait_for(lambda: self._text(), 10)  # the monitor's own NameAcquired: it listens

    def _text(self):
        with open(self.path) as f:
            return f.read()

    def count(self):
        return self._text().count("member=LayoutUpdated")
