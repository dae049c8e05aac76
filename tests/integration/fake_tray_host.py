#!/usr/bin/python3
"""A minimal StatusNotifierWatcher on the session bus, standing in for a desktop's tray host, so that
Qt exports its tray item and menu over D-Bus. Prints "ready" once it owns its name."""

import dbus
import dbus.service

import tray

WATCHER = "org.kde.StatusNotifierWatcher"
# Qt reads the properties through an introspected interface, so they must be declared.
INTROSPECTION = f"""<node><interface name="{WATCHER}">
 <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
 <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
 <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
 <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
 <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
 <property name="ProtocolVersion" type="i" access="read"/>
</interface></node>"""


class Watcher(dbus.service.Object):
    items = []

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # An item names either its bus name (object at /StatusNotifierItem) or just its path.
        self.items.append(f"{sender}{service}" if service.startswith("/") else f"{service}/StatusNotifierItem")
        self.StatusNotifierItemRegistered(service)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, in_signature="", out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        return self.GetAll(interface)[prop]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
                "IsStatusNotifierHostRegistered": dbus.Boolean(True), "ProtocolVersion": dbus.Int32(0)}


if __name__ == "__main__":
    tray.serve(WATCHER, lambda bus: Watcher(bus, "/StatusNotifierWatcher"))
