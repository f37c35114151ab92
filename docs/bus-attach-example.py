#!/usr/bin/python3
"""Attaches to the chat client on the bus as Velantro does, asks for the
friends list and prints every line the client sends. An example of a peer of
the bus protocol (docs/bus-protocol.md) in Python with PyGObject's Gio.

    dbus-run-session -- sh -c 'build/bin/skype-peer & sleep 1; python3 docs/bus-attach-example.py'
"""
import sys

from gi.repository import Gio, GLib

INTERFACE = "org.velantro.Window"
WM_COPYDATA = 74
INTROSPECTION = """
<node><interface name="org.velantro.Window">
  <method name="Send"><arg type="u" direction="in"/><arg type="t" direction="in"/>
    <arg type="x" direction="in"/><arg type="x" direction="out"/></method>
  <method name="CopyData"><arg type="t" direction="in"/><arg type="t" direction="in"/>
    <arg type="ay" direction="in"/><arg type="x" direction="out"/></method>
  <property name="Title" type="s" access="read"/>
</interface></node>"""


def message_id(name):
    """The id every window on the bus uses for a registered message name."""
    h = 2166136261
    for byte in name.encode():
        if 65 <= byte <= 90:
            byte += 32
        h = ((h ^ byte) * 16777619) & 0xFFFFFFFF
    return 0xC000 + h % 0x4000


ATTACH = message_id("SkypeControlAPIAttach")
DISCOVER = message_id("SkypeControlAPIDiscover")

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
loop = GLib.MainLoop()
client_window = 0
handshake_due = False


def daemon(method, args, reply_type):
    return bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", method, args,
                         GLib.VariantType(reply_type), Gio.DBusCallFlags.NONE, 2000, None)


def send(window, method, args):
    """Calls a window and waits for its result while still serving this
    program's own window, so that its answers can come in meanwhile."""
    done = {}

    def finish(connection, result):
        try:
            done["result"] = connection.call_finish(result)[0]
        except GLib.Error:
            done["result"] = 0          # the window is gone or refused

    bus.call(f"{INTERFACE}.H{window}", f"/org/velantro/Window/{window}", INTERFACE, method,
             args, GLib.VariantType("(x)"), Gio.DBusCallFlags.NO_AUTO_START, 25000, None,
             finish)
    context = GLib.MainContext.default()
    while "result" not in done:
        context.iteration(True)
    return done["result"]


def send_line(window, line):
    data = line.encode() + b"\0"        # the line, then its NUL; cbData counts both
    return send(window, "CopyData", GLib.Variant("(ttay)", (own_handle, 0, data)))


def on_call(connection, sender, path, interface, method, params, invocation):
    global client_window, handshake_due
    if method == "Send":
        msg, wparam, lparam = params.unpack()
        if msg == ATTACH:
            print("attach status", lparam)
            if lparam == 0:
                client_window = wparam
                handshake_due = True
        invocation.return_value(GLib.Variant("(x)", (1,)))
    elif method == "CopyData":
        wparam, dwdata, data = params.unpack()
        line = bytes(data).split(b"\0", 1)[0].decode("utf-8", "replace")
        print("line:", line)
        invocation.return_value(GLib.Variant("(x)", (1 if wparam == client_window else 0,)))
        if line.startswith("USERS"):
            loop.quit()


def on_get_property(connection, sender, path, interface, name):
    return GLib.Variant("s", "bus attach example")


# Claim a window: export the object, then try names until one is free.
node = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION).interfaces[0]
own_handle = 1000
while True:
    registration = bus.register_object(f"/org/velantro/Window/{own_handle}", node, on_call,
                                       on_get_property, None)
    if daemon("RequestName", GLib.Variant("(su)", (f"{INTERFACE}.H{own_handle}", 4)),
              "(u)")[0] == 1:
        break
    bus.unregister_object(registration)
    own_handle += 1
print("own window", own_handle)

# Broadcast the discover message: one Send to every window on the bus.
names = daemon("ListNames", None, "(as)")[0]
windows = sorted(int(n[len(INTERFACE) + 2:]) for n in names if n.startswith(INTERFACE + ".H"))
for window in windows:
    if window != own_handle:
        send(window, "Send", GLib.Variant("(utx)", (DISCOVER, own_handle, 0)))


def step():
    global handshake_due
    if handshake_due:
        handshake_due = False
        for line in ("NAME Example", "PROTOCOL 4", "SEARCH FRIENDS "):
            print("sent:", line, "->", send_line(client_window, line))
    return True


GLib.timeout_add(10, step)
GLib.timeout_add(10000, lambda: sys.exit("no answer within 10 s"))
loop.run()
