#!/usr/bin/env python3
"""Presses the running program's button of the given name through the
accessibility bus, as a screen reader or a switch user would:
press_button.py NAME. The program runs with QT_LINUX_ACCESSIBILITY_ALWAYS_ON."""
import sys

import dbus

ACCESSIBLE = "org.a11y.atspi.Accessible"


def find(bus, dest, path, name):
    node = bus.get_object(dest, path, introspect=False)
    if node.Get(ACCESSIBLE, "Name", dbus_interface=dbus.PROPERTIES_IFACE) == name:
        return node
    for child in node.GetChildren(dbus_interface=ACCESSIBLE):
        found = find(bus, child[0], child[1], name)
        if found is not None:
            return found
    return None


def main(name):
    session = dbus.SessionBus()
    address = session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(
        dbus_interface="org.a11y.Bus")
    bus = dbus.bus.BusConnection(address)
    registry = bus.get_object("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
    for app in registry.GetChildren(dbus_interface=ACCESSIBLE):
        button = find(bus, app[0], app[1], name)
        if button is not None:
            button.DoAction(0, dbus_interface="org.a11y.atspi.Action")
            return 0
    print(f"no button named {name!r}", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
