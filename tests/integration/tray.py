"""Reaches Tovami's tray menu the way a desktop's tray host does: over D-Bus (StatusNotifierItem
plus com.canonical.dbusmenu)."""

import subprocess
import sys
import time

import dbus

from harness import wait_for

HERE = __file__.rsplit("/", 1)[0]


def start_fake_host(session):
    proc = session._spawn(["/usr/bin/python3", f"{HERE}/fake_tray_host.py"], stdout=subprocess.PIPE)
    if proc.stdout.readline().strip() != b"ready":
        raise RuntimeError("fake tray host did not start")
    return proc


def _bus(session):
    return dbus.bus.BusConnection(session.env["DBUS_SESSION_BUS_ADDRESS"])


def find_item(session, timeout=10):
    """(bus name, object path) of the first tray item registered with the host, or None."""
    def lookup():
        bus = _bus(session)
        watcher = bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
        items = watcher.Get("org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems",
                            dbus_interface=dbus.PROPERTIES_IFACE)
        if not items:
            return None
        name, _, path = str(items[0]).partition("/")
        return (name, "/" + path)
    return wait_for(lookup, timeout)


def menu_layout(session, item):
    bus = _bus(session)
    name, path = item
    obj = bus.get_object(name, path)
    menu_path = obj.Get("org.kde.StatusNotifierItem", "Menu", dbus_interface=dbus.PROPERTIES_IFACE)
    menu = bus.get_object(name, menu_path)
    _, layout = menu.GetLayout(0, -1, dbus.Array([], signature="s"), dbus_interface="com.canonical.dbusmenu")
    entries = []
    for child in layout[2]:
        entry_id, props = int(child[0]), child[1]
        entries.append((entry_id, str(props.get("label", "")), bool(props.get("enabled", True)),
                        str(props.get("type", "standard"))))
    return menu, entries


def labels(session, item):
    return [label for _, label, _, kind in menu_layout(session, item)[1] if kind != "separator"]


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
    name, path = item
    obj = _bus(session).get_object(name, path)
    _, _, title, text = obj.Get("org.kde.StatusNotifierItem", "ToolTip", dbus_interface=dbus.PROPERTIES_IFACE)
    return "\n".join(part for part in (str(title), str(text)) if part)
