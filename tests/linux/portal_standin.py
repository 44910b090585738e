#!/usr/bin/python3
"""A stand-in for the desktop portal's Inhibit, on the session bus that
DBUS_SESSION_BUS_ADDRESS names.  Prints "ready" once it owns the portal's name,
then one line per call, flushed at once: [window, flags, reason] in compact
JSON for each Inhibit, and "Close" when a request it handed out is closed (any
other handle has no object to close).  Ends on SIGTERM."""

import json

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib


class Request(dbus.service.Object):
    @dbus.service.method("org.freedesktop.portal.Request")
    def Close(self):
        print("Close", flush=True)
        self.remove_from_connection()


class Portal(dbus.service.Object):
    requests = 0

    @dbus.service.method("org.freedesktop.portal.Inhibit", in_signature="sua{sv}",
                         out_signature="o")
    def Inhibit(self, window, flags, options):
        Portal.requests += 1
        handle = "/org/freedesktop/portal/desktop/request/standin/t%d" % Portal.requests
        Request(self.connection, handle)
        call = [str(window), int(flags), str(options.get("reason", ""))]
        print(json.dumps(call, ensure_ascii=False, separators=(",", ":")), flush=True)
        return dbus.ObjectPath(handle)


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
Portal(bus, "/org/freedesktop/portal/desktop")
print("ready", flush=True)
GLib.MainLoop().run()
