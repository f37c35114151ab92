"""A small desktop notification service (org.freedesktop.Notifications) on
the session bus: it answers Notify and CloseNotification as a desktop's would
and writes each call, as one JSON line, to the file named on its command line.
It prints "ready" once it owns the name."""

import json
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
  </interface>
</node>"""


def main(log_path):
    log = open(log_path, "a", encoding="utf-8")
    last_id = [0]

    def record(entry):
        log.write(json.dumps(entry) + "\n")
        log.flush()

    def on_call(connection, sender, path, interface, method, parameters, invocation):
        args = parameters.unpack()
        if method == "Notify":
            app, replaces, _icon, summary, body, _actions, hints, _timeout = args
            if replaces:
                number = replaces
            else:
                last_id[0] += 1
                number = last_id[0]
            record({"call": "Notify", "id": number, "replaces": replaces, "app": app,
                    "summary": summary, "body": body, "category": hints.get("category")})
            invocation.return_value(GLib.Variant("(u)", (number,)))
        elif method == "CloseNotification":
            record({"call": "CloseNotification", "id": args[0]})
            invocation.return_value(None)
        elif method == "GetCapabilities":
            invocation.return_value(GLib.Variant("(as)", (["body", "body-markup"],)))
        else:
            invocation.return_value(GLib.Variant("(ssss)", ("test", "velantro", "1", "1.2")))

    node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)
    loop = GLib.MainLoop()

    def on_bus(connection, _name):
        connection.register_object("/org/freedesktop/Notifications", node.interfaces[0],
                                   on_call, None, None)

    def on_name(_connection, _name):
        print("ready", flush=True)

    Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications",
                     Gio.BusNameOwnerFlags.NONE, on_bus, on_name, lambda *_: loop.quit())
    loop.run()


if __name__ == "__main__":
    main(sys.argv[1])
