#!/usr/bin/python3
"""A chat client on the bus (docs/bus-protocol.md) that sends what skype-peer
cannot: each line of its standard input is hex, and its bytes go to the
attached program as one copy-data block exactly as they are, no NUL added.

It answers the handshake, "SEARCH FRIENDS" with "USERS alice", and every
message as one from alice whose body is "Hola <id>". Each line received is
printed, escaped, to standard output."""

import os
import sys

from gi.repository import Gio, GLib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from bus_peer import INTERFACE, INTROSPECTION, message_id  # noqa: E402


ATTACH = message_id("SkypeControlAPIAttach")
DISCOVER = message_id("SkypeControlAPIDiscover")

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
own = 9000
program = 0


def call(window, method, args):
    """Sends without waiting; calls from one connection arrive in order."""
    bus.call(f"{INTERFACE}.H{window}", f"/org/velantro/Window/{window}", INTERFACE, method,
             args, GLib.VariantType("(x)"), Gio.DBusCallFlags.NO_AUTO_START, -1, None,
             lambda connection, result: _finish(connection, result))


def _finish(connection, result):
    try:
        connection.call_finish(result)
    except GLib.Error:
        pass


def send_bytes(data):
    call(program, "CopyData", GLib.Variant("(ttay)", (own, 0, data)))


def answer(line):
    words = line.split(" ")
    if words[0] == "NAME":
        replies = ["OK"]
    elif words[0] == "PROTOCOL":
        replies = ["PROTOCOL 4", "CURRENTUSERHANDLE fake"]
    elif line.startswith("SEARCH FRIENDS"):
        replies = ["USERS alice"]
    elif words[:2] == ["GET", "CHATMESSAGE"] and words[3] == "FROM_HANDLE":
        replies = [f"CHATMESSAGE {words[2]} FROM_HANDLE alice"]
    elif words[:2] == ["GET", "CHATMESSAGE"] and words[3] == "BODY":
        replies = [f"CHATMESSAGE {words[2]} BODY Hola {words[2]}"]
    else:
        replies = []
    for reply in replies:
        send_bytes(reply.encode() + b"\0")


def on_call(connection, sender, path, interface, method, params, invocation):
    global program
    if method == "Send":
        msg, wparam, _ = params.unpack()
        invocation.return_value(GLib.Variant("(x)", (1,)))
        if msg == DISCOVER:
            program = wparam
            call(program, "Send", GLib.Variant("(utx)", (ATTACH, own, 0)))
    else:
        wparam, _, data = params.unpack()
        invocation.return_value(GLib.Variant("(x)", (1,)))
        line = bytes(data).split(b"\0", 1)[0].decode("utf-8", "replace")
        print(line.encode("unicode_escape").decode(), flush=True)
        if wparam == program:
            answer(line)


pending = b""


def on_input(channel, condition):
    global pending
    chunk = os.read(sys.stdin.fileno(), 1 << 20)
    if not chunk:
        loop.quit()
        return False
    *lines, pending = (pending + chunk).split(b"\n")
    for line in lines:
        send_bytes(bytes.fromhex(line.decode()))
    return True


node = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION).interfaces[0]
while True:
    registration = bus.register_object(f"/org/velantro/Window/{own}", node, on_call,
                                       lambda *args: GLib.Variant("s", "fake chat client"), None)
    reply = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "RequestName", GLib.Variant("(su)", (f"{INTERFACE}.H{own}", 4)),
                          GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, 2000, None)
    if reply[0] == 1:
        break
    bus.unregister_object(registration)
    own += 1

# Announce the API as available: a program that re-attaches by itself does.
names = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                      "ListNames", None, GLib.VariantType("(as)"), Gio.DBusCallFlags.NONE, 2000,
                      None)[0]
for name in names:
    if name.startswith(INTERFACE + ".H") and name != f"{INTERFACE}.H{own}":
        call(int(name[len(INTERFACE) + 2:]), "Send", GLib.Variant("(utx)", (ATTACH, own, 32769)))

loop = GLib.MainLoop()
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP, on_input)
loop.run()
