"""What skype-peer --xmpp keeps for programs that attach later: messages that
came while it was not running (kept by the server offline and in the message
archive, handed over once), messages no program took (listed by SEARCH
MISSEDCHATMESSAGES until marked seen, and offered again after a restart
until then), and what the user writes on another device (a carbon, told as
sent). A Prosody of the test's own, slixmpp for the other accounts, and a
program on the window bus written from docs/bus-protocol.md.

    dbus-run-session -- /usr/bin/python3 skype_peer_xmpp_archive_test.py build/bin
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from gi.repository import Gio, GLib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "scripts"))
from bus_peer import INTERFACE, INTROSPECTION, message_id  # noqa: E402
from local_prosody import Contact, LocalProsody  # noqa: E402

BIN = None
ATTACH = message_id("SkypeControlAPIAttach")
DISCOVER = message_id("SkypeControlAPIDiscover")
ALICE_PASSWORD = "alice-archive-1"
BOB_PASSWORD = "bob-archive-2"


def wait_until(condition, timeout, what, step=None):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"no {what} within {timeout} s")
        if step:
            step()
        else:
            time.sleep(0.05)


class BusProgram:
    """A program on the window bus, on a connection of its own (closing it
    closes the window): attaches to the chat client, sends command lines and
    keeps every line the client sends it."""

    def __init__(self, handle):
        address = Gio.dbus_address_get_for_bus_sync(Gio.BusType.SESSION, None)
        self.bus = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
            | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        self.context = GLib.MainContext.default()
        self.handle = handle
        self.client = 0
        self.lines = []
        node = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION).interfaces[0]
        self.bus.register_object(f"/org/velantro/Window/{handle}", node, self._call,
                                 lambda *_: GLib.Variant("s", "archive test"), None)
        owned = self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus", "RequestName",
                                   GLib.Variant("(su)", (f"{INTERFACE}.H{handle}", 4)),
                                   GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, 2000, None)
        assert owned.unpack()[0] == 1, f"window {handle} is taken"

    def _call(self, connection, sender, path, interface, method, params, invocation):
        if method == "Send":
            msg, wparam, lparam = params.unpack()
            if msg == ATTACH and lparam == 0:
                self.client = wparam
            invocation.return_value(GLib.Variant("(x)", (1,)))
        else:
            wparam, _, data = params.unpack()
            taken = wparam == self.client and self.client != 0
            if taken:
                self.lines.append(bytes(data).split(b"\0", 1)[0].decode("utf-8", "replace"))
            invocation.return_value(GLib.Variant("(x)", (1 if taken else 0,)))

    def _send(self, window, method, args):
        self.bus.call(f"{INTERFACE}.H{window}", f"/org/velantro/Window/{window}", INTERFACE,
                      method, args, GLib.VariantType("(x)"), Gio.DBusCallFlags.NO_AUTO_START,
                      25000, None, lambda connection, result: connection.call_finish(result))

    def turn(self):
        self.context.iteration(False) or time.sleep(0.01)

    def wait_for(self, condition, timeout, what):
        wait_until(condition, timeout, what, self.turn)

    def attach(self):
        names = self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus", "ListNames", None,
                                   GLib.VariantType("(as)"), Gio.DBusCallFlags.NONE, 2000,
                                   None).unpack()[0]
        for name in names:
            if name.startswith(INTERFACE + ".H") and name != f"{INTERFACE}.H{self.handle}":
                self._send(int(name[len(INTERFACE) + 2:]), "Send",
                           GLib.Variant("(utx)", (DISCOVER, self.handle, 0)))
        self.wait_for(lambda: self.client != 0, 20, "attach status 0")
        self.ask("PROTOCOL 8", "CURRENTUSERHANDLE")

    def ask(self, line, answer_prefix, timeout=20):
        """Sends line and gives the first line after it that starts with answer_prefix."""
        start = len(self.lines)
        self._send(self.client, "CopyData",
                   GLib.Variant("(ttay)", (self.handle, 0, line.encode() + b"\0")))

        def answer():
            return next((got for got in self.lines[start:] if got.startswith(answer_prefix)),
                        None)
        self.wait_for(lambda: answer() is not None, timeout, f"answer to {line!r}")
        return answer()

    def missed(self):
        line = self.ask("SEARCH MISSEDCHATMESSAGES", "CHATMESSAGES")
        return [] if line == "CHATMESSAGES" else line[len("CHATMESSAGES "):].split(", ")

    def value(self, message, prop):
        prefix = f"CHATMESSAGE {message} {prop} "
        return self.ask(f"GET CHATMESSAGE {message} {prop}", prefix)[len(prefix):]

    def close(self):
        if not self.bus.is_closed():
            self.bus.close_sync(None)


class SkypePeerXmppArchiveTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="skype-peer-archive-")
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
        self.server = LocalProsody(os.path.join(self.folder, "prosody"))
        self.alice = self.server.register("alice", ALICE_PASSWORD)
        self.bob = self.server.register("bob", BOB_PASSWORD)
        self.server.write_roster("alice", {self.bob: "both"})
        self.server.write_roster("bob", {self.alice: "both"})
        self.server.start()
        self.addCleanup(self.server.stop)
        self.state_home = os.path.join(self.folder, "state")
        self.runs = 0
        self.peer = None
        self.next_window = 7000

    def tearDown(self):
        if self.peer is not None and self.peer.poll() is None:
            self.peer.kill()
            self.peer.wait()

    def read(self, kind):
        with open(os.path.join(self.folder, f"peer{self.runs}.{kind}"), "rb") as file:
            return file.read().decode("utf-8", "replace")

    def start_peer(self):
        """Starts skype-peer for alice and waits until it has read the archive."""
        self.runs += 1
        env = dict(os.environ, SKYPE_PEER_XMPP_PASSWORD=ALICE_PASSWORD,
                   XDG_STATE_HOME=self.state_home, HOME=os.path.join(self.folder, "home"))
        with open(os.path.join(self.folder, f"peer{self.runs}.out"), "wb") as out, \
                open(os.path.join(self.folder, f"peer{self.runs}.err"), "wb") as err:
            self.peer = subprocess.Popen(
                [os.path.join(BIN, "skype-peer"), "--xmpp", self.alice,
                 "--xmpp-server", f"127.0.0.1:{self.server.port}", "--xmpp-ca",
                 self.server.ca_file, "--title", f"peer {self.runs}",
                 "--xmpp-log", os.path.join(self.folder, f"peer{self.runs}.xmpp")],
                env=env, stdin=subprocess.PIPE, stdout=out, stderr=err)
        wait_until(lambda: "xmpp: message archive read" in self.read("out")
                   or self.peer.poll() is not None, 30, "archive read")
        self.assertIsNone(self.peer.poll(), self.read("err"))
        self.assertIn("xmpp: message carbons on", self.read("out"))

    def stop_peer(self):
        self.peer.stdin.write(b"quit\n")
        self.peer.stdin.close()
        self.assertEqual(self.peer.wait(20), 0, self.read("err"))
        self.peer = None

    def program(self):
        self.next_window += 1
        program = BusProgram(self.next_window)
        self.addCleanup(program.close)
        program.attach()
        return program

    def contact(self, jid, password):
        contact = Contact(self.server, jid, password)
        self.addCleanup(contact.close)
        contact.wait_for("ready")
        return contact

    def test_messages_from_while_it_was_away_are_missed_once_and_seen_ones_never_again(self):
        # A first run marks where the archive is read from.
        self.start_peer()
        self.stop_peer()
        state = os.path.join(self.state_home, "velantro", f"xmpp-{self.alice}.state")
        self.assertTrue(os.path.isfile(state))

        bob = self.contact(self.bob, BOB_PASSWORD)
        bob.send(self.alice, "while you were away")
        time.sleep(1)  # kept offline and archived by the time alice signs in

        # Offline storage and the archive both hand it over: one message.
        self.start_peer()
        program = self.program()
        missed = program.missed()
        self.assertEqual(len(missed), 1, program.lines)
        [away] = missed
        # Not announced: it came before the program, which asks for it.
        self.assertEqual([line for line in program.lines if "STATUS" in line], [])
        self.assertEqual(program.value(away, "BODY"), "while you were away")
        self.assertEqual(program.value(away, "FROM_HANDLE"), self.bob)
        self.assertEqual(program.value(away, "STATUS"), "RECEIVED")

        self.assertEqual(program.ask(f"SET CHATMESSAGE {away} SEEN", f"CHATMESSAGE {away} "),
                         f"CHATMESSAGE {away} STATUS READ")
        self.assertEqual(program.missed(), [])

        # The program goes; what comes now reaches no one and stays missed.
        program.close()
        bob.send(self.alice, "nobody took this one")
        wait_until(lambda: "message from " + self.bob in self.read("out").split(
            "message archive read", 1)[1], 20, "the live message")
        later = self.program()
        [unseen] = later.missed()
        self.assertEqual(later.value(unseen, "BODY"), "nobody took this one")
        later.close()

        # After a restart the seen one is not offered again; the unseen one is.
        self.stop_peer()
        self.start_peer()
        again = self.program()
        missed = again.missed()
        self.assertEqual([again.value(message, "BODY") for message in missed], ["nobody took this one"],
                         self.read("out"))
        self.assertEqual(self.read("err"), "")

    def test_a_message_written_on_another_device_is_told_as_sent(self):
        self.start_peer()
        program = self.program()
        bob = self.contact(self.bob, BOB_PASSWORD)
        phone = self.contact(self.alice, ALICE_PASSWORD)
        phone.send(self.bob, "from my phone")
        self.assertEqual(bob.wait_for("message")["body"], "from my phone")
        program.wait_for(lambda: any(line.endswith("STATUS SENT") for line in program.lines),
                         20, "the sent carbon")
        [sent] = [line.split()[1] for line in program.lines if line.endswith("STATUS SENT")]
        self.assertEqual(program.value(sent, "BODY"), "from my phone")
        self.assertEqual(program.value(sent, "USERS"), self.bob)
        self.assertEqual(program.value(sent, "FROM_HANDLE"), self.alice)
        self.assertEqual(program.value(sent, "STATUS"), "SENT")
        self.assertEqual(program.missed(), [])
        program.ask(f"MESSAGE {self.bob} from here", "CHATMESSAGE")
        self.assertEqual(bob.wait_for("message")["body"], "from here")

        # Neither message, from the archive after a restart, is news.
        program.close()
        self.stop_peer()
        self.start_peer()
        again = self.program()
        self.assertEqual(again.missed(), [])
        self.assertNotIn("written on another device", self.read("out"))


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: skype_peer_xmpp_archive_test.py BIN_DIR [unittest arguments]")
    BIN = os.path.abspath(sys.argv[1])
    if not LocalProsody.available():
        print("prosody is not installed", file=sys.stderr)
        sys.exit(77)
    unittest.main(argv=[sys.argv[0], *sys.argv[2:]], verbosity=2)
