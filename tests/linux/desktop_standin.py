#!/usr/bin/python3
"""The desktop around the window, on the session bus that DBUS_SESSION_BUS_ADDRESS names: a
stand-in file manager, whose ShowItems fails for a URI with "unanswered" in it as where none
answers, and a listener for the dock's launcher entry signals and the calls that python3-dbusmock's
notification daemon records. Prints "ready" once the notification daemon is on the bus too, then a
line per event: its member and arguments, each after a tab; a list's items joined with "|", a
dictionary as "key=type:value" pairs joined with spaces."""

import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

TYPES = ((dbus.Boolean, "b"), (dbus.Double, "d"), (dbus.String, "s"))


def text(value):
    if isinstance(value, dict):
        return " ".join("%s=%s:%s" % (k, next(c for t, c in TYPES if isinstance(v, t)), v)
                        for k, v in value.items())
    return "|".join(value) if isinstance(value, list) else str(value)


def record(member, *args):
    print("\t".join([member] + [text(a) for a in args]), flush=True)


class FileManager(dbus.service.Object):
    @dbus.service.method("org.freedesktop.FileManager1", in_signature="ass")
    def ShowItems(self, uris, startup_id):
        record("ShowItems", uris, startup_id)
        if "unanswered" in uris[0]:
            raise dbus.exceptions.DBusException("none", name="org.freedesktop.DBus.Error.Failed")


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.FileManager1", bus)
FileManager(bus, "/org/freedesktop/FileManager1")
bus.add_signal_receiver(lambda uri, properties: record("Update", uri, properties),
                        signal_name="Update", dbus_interface="com.canonical.Unity.LauncherEntry")
bus.add_signal_receiver(lambda method, args: record(method, *args), signal_name="MethodCalled",
                        dbus_interface="org.freedesktop.DBus.Mock")
while not bus.name_has_owner("org.freedesktop.Notifications"):
    time.sleep(0.05)
print("ready", flush=True)
GLib.MainLoop().run()
