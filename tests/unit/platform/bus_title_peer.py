#!/usr/bin/python3
"""A window of another program, written from docs/bus-protocol.md alone.

usage: bus_title_peer.py HANDLE TITLE [--silent]

Opens window HANDLE titled TITLE and prints "HANDLE N". Send answers lParam + 1.
Each line "title TEXT" on the standard input changes the title, announces it
with PropertiesChanged (unless --silent: a program that never announces) and
prints "TITLED". The end of the input ends the program."""

import os
import sys

from gi.repository import Gio, GLib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from bus_peer import INTERFACE, INTROSPECTION  # noqa: E402


handle = int(sys.argv[1])
title = sys.argv[2]
silent = "--silent" in sys.argv[3:]
path = f"/org/velantro/Window/{handle}"
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
loop = GLib.MainLoop()


def on_call(connection, sender, object_path, interface, method, params, invocation):
    if method == "Send":
        invocation.return_value(GLib.Variant("(x)", (params.unpack()[2] + 1,)))
    else:
        invocation.return_value(GLib.Variant("(x)", (0,)))


def on_get(connection, sender, object_path, interface, name):
    return GLib.Variant("s", title)


def on_input(source, condition):
    global title
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    if line.startswith("title "):
        title = line[len("title "):].rstrip("\n")
        if not silent:
            bus.emit_signal(None, path, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                            GLib.Variant("(sa{sv}as)",
                                         (INTERFACE, {"Title": GLib.Variant("s", title)}, [])))
            bus.flush_sync(None)
        print("TITLED", flush=True)
    return True


node = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION)
bus.register_object(path, node.interfaces[0], on_call, on_get, None)
reply = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                      "RequestName", GLib.Variant("(su)", (f"{INTERFACE}.H{handle}", 4)),
                      GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, -1, None)
if reply.unpack()[0] != 1:
    sys.exit(f"window {handle} is taken")
print("HANDLE", handle, flush=True)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
loop.run()
