#!/usr/bin/python3
"""Stand-in for the desktop portal's Inhibit interface, on the session bus that
DBUS_SESSION_BUS_ADDRESS names.  Prints "ready" once it owns the portal's name,
then one JSON line per call it receives, flushed at once:
  {"call": "Inhibit", "window": ..., "flags": ..., "reason": ..., "handle": ...}
  {"call": "Close", "handle": ...}
Each Inhibit answers with a request handle of its own, whose Close is logged.
Ends on SIGTERM."""

import json

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib


def log(entry):
    print(json.dumps(entry, ensure_ascii=False), flush=True)


class Request(dbus.service.Object):
    @dbus.service.method("org.freedesktop.portal.Request")
    def Close(self):
        log({"call": "Close", "handle": self.__dbus_object_path__})
        self.remove_from_connection()


class Portal(dbus.service.Object):
    requests = 0

    @dbus.service.method("org.freedesktop.portal.Inhibit", in_signature="sua{sv}",
                         out_signature="o")
    def Inhibit(self, window, flags, options):
        Portal.requests += 1
        handle = "/org/freedesktop/portal/desktop/request/standin/t%d" % Portal.requests
        Request(self.connection, handle)
        log({"call": "Inhibit", "window": str(window), "flags": int(flags),
             "reason": str(options.get("reason", "")), "handle": handle})
        return dbus.ObjectPath(handle)


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
Portal(bus, "/org/freedesktop/portal/desktop")
print("ready", flush=True)
GLib.MainLoop().run()
