"""What the tests' own peers on the window bus share, from
docs/bus-protocol.md: the window interface and the registered message ids."""

INTERFACE = "org.velantro.Window"
INTROSPECTION = """
<node><interface name="org.velantro.Window">
  <method name="Send"><arg type="u" direction="in"/><arg type="t" direction="in"/>
    <arg type="x" direction="in"/><arg type="x" direction="out"/></method>
  <method name="CopyData"><arg type="t" direction="in"/><arg type="t" direction="in"/>
    <arg type="ay" direction="in"/><arg type="x" direction="out"/></method>
  <property name="Title" type="s" access="read"/>
</interface></node>"""


def message_id(name):
    """The id every window on the bus uses for a registered message name:
    0xC000 plus the FNV-1a hash of its ASCII-lower-cased bytes modulo 0x4000."""
    h = 2166136261
    for byte in name.lower().encode():
        h = ((h ^ byte) * 16777619) & 0xFFFFFFFF
    return 0xC000 + h % 0x4000
