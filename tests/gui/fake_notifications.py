#!/usr/bin/python3
# A stand-in desktop notification service on the session bus: owns
# org.freedesktop.Notifications, appends one JSON line per Notify call to the file named on the
# command line, and prints "ready" once the name is owned. Ends on SIGTERM.
import json
import signal
import sys

from gi.repository import Gio, GLib

XML = """<node><interface name="org.freedesktop.Notifications">
<method name="Notify"><arg type="s" direction="in"/><arg type="u" direction="in"/>
<arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
<arg type="as" direction="in"/><arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
<arg type="u" direction="out"/></method>
<method name="GetCapabilities"><arg type="as" direction="out"/></method>
</interface></node>"""

out_path = sys.argv[1]
loop = GLib.MainLoop()
count = [0]


def on_call(connection, sender, path, interface, method, params, invocation):
    if method == "Notify":
        app, replaces, icon, summary, body, actions, hints, timeout = params.unpack()
        with open(out_path, "a") as f:
            f.write(json.dumps({"app": app, "icon": icon, "summary": summary, "body": body},
                           separators=(",", ":")) + "\n")
        count[0] += 1
        invocation.return_value(GLib.Variant("(u)", (count[0],)))
    else:
        invocation.return_value(GLib.Variant("(as)", (["body"],)))


def on_bus(connection, name):
    info = Gio.DBusNodeInfo.new_for_xml(XML)
    connection.register_object("/org/freedesktop/Notifications", info.interfaces[0], on_call)


def on_name(connection, name):
    print("ready", flush=True)


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications",
                 Gio.BusNameOwnerFlags.NONE, on_bus, on_name, lambda *a: loop.quit())
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
loop.run()
