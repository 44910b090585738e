#!/usr/bin/python3
"""The desktop around the window, on the session bus that DBUS_SESSION_BUS_ADDRESS
names: a stand-in file manager (org.freedesktop.FileManager1), and a listener for
the dock's launcher entry signals and for the calls that python3-dbusmock's
notification daemon records.  Prints "ready" once it owns the file manager's name
and the notification daemon is on the bus, then one line of compact JSON per
event, flushed at once: [member, arguments...], each value of a dictionary as
"type:value" (b, d, s...).  ShowItems fails for a URI that holds "unanswered", as
where no file manager answers.  Ends on SIGTERM."""

import json
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

TYPES = ((dbus.Boolean, "b"), (dbus.Double, "d"), (dbus.String, "s"), (dbus.UInt32, "u"),
         (dbus.Int32, "i"), (dbus.Byte, "y"))


def plain(value):
    if isinstance(value, dict):
        return {str(k): next((c for t, c in TYPES if isinstance(v, t)), "?") + ":" + str(v)
                for k, v in value.items()}
    if isinstance(value, list):
        return [plain(v) for v in value]
    return int(value) if isinstance(value, int) else str(value)


def record(member, *args):
    print(json.dumps([member] + [plain(a) for a in args], ensure_ascii=False,
                     separators=(",", ":")), flush=True)


class FileManager(dbus.service.Object):
    @dbus.service.method("org.freedesktop.FileManager1", in_signature="ass")
    def ShowItems(self, uris, startup_id):
        record("ShowItems", uris, startup_id)
        if any("unanswered" in uri for uri in uris):
            raise dbus.exceptions.DBusException("no file manager here",
                                                name="org.freedesktop.DBus.Error.Failed")


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.FileManager1", bus)
FileManager(bus, "/org/freedesktop/FileManager1")
bus.add_signal_receiver(lambda uri, properties: record("Update", uri, properties),
                        signal_name="Update", dbus_interface="com.canonical.Unity.LauncherEntry")
bus.add_signal_receiver(lambda method, args: record(method, *args), signal_name="MethodCalled",
                        dbus_interface="org.freedesktop.DBus.Mock",
                        path="/org/freedesktop/Notifications")
for _ in range(200):
    if bus.name_has_owner("org.freedesktop.Notifications"):
        break
    time.sleep(0.05)
print("ready", flush=True)
GLib.MainLoop().run()
