"""Velantro with a real XMPP account behind the chat client: a Prosody of the
test's own on 127.0.0.1, skype-peer --xmpp for one account on the private
session bus, and the other account driven by a plain XMPP client
(slixmpp), the window read and driven through the accessibility tree."""

import os
import subprocess
import sys
import time
import unittest

import desktop_session
from desktop_session import DesktopSession, wait_until

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "scripts"))
from local_prosody import Contact, LocalProsody, befriend  # noqa: E402

BIN = None
FOOTER = " - Translated with Velantro"


class VelantroXmppTest(unittest.TestCase):
    def setUp(self):
        self.session = DesktopSession(BIN)
        self.addCleanup(self.session.close)
        self.server = LocalProsody(self.session.path("prosody"))
        self.addCleanup(self.server.stop)
        self.alice = self.server.register("alice", "alice-secret-1")
        self.bob = self.server.register("bob", "bob-secret-2")
        self.carol = self.server.register("carol", "carol-secret-3")
        self.server.start()
        self.password_file = self.session.path("alice.password")
        with open(self.password_file, "w") as file:
            file.write("alice-secret-1\n")

    def contact(self, jid, password, *extra):
        contact = Contact(self.server, jid, password, *extra)
        self.addCleanup(contact.close)
        return contact

    def befriend(self, friend_password, friend):
        """alice asks friend for its presence from a second device; the friend,
        online, accepts."""
        other = self.contact(friend, friend_password)
        other.wait_for("ready")
        befriend(self.server, self.alice, "alice-secret-1", friend)
        return other

    def start_peer(self, password_file):
        self.peer_out = self.session.path("peer.out")
        self.peer_err = self.session.path("peer.err")
        with open(self.peer_out, "wb") as out, open(self.peer_err, "wb") as err:
            return self.session._start(
                [os.path.join(BIN, "skype-peer"), "--xmpp", self.alice,
                 "--xmpp-password-file", password_file,
                 "--xmpp-server", f"127.0.0.1:{self.server.port}",
                 "--xmpp-ca", self.server.ca_file,
                 "--xmpp-log", self.session.path("xmpp.log"),
                 "--log", self.session.path("peer.log")],
                stdin=subprocess.DEVNULL, stdout=out, stderr=err)

    def read(self, path):
        with open(path, "rb") as file:
            return file.read().decode("utf-8", "replace")

    def contacts(self):
        try:
            return self.window.list_items("To")
        except LookupError:  # the window not yet on the accessibility bus
            return None

    def page(self, caption):
        try:
            return self.window.page_lines(caption)
        except Exception:  # a node that went away while the page was read
            return None

    def wait_for_page(self, caption, lines, timeout=20):
        try:
            wait_until(lambda: self.page(caption) == lines, timeout, f"{lines}")
        except TimeoutError:
            self.fail(f"{caption}'s page shows {self.window.page_lines(caption)}, not {lines};"
                      f" pages: {self.window.pages()}; error box: {self.window.error_box()}")

    def test_a_conversation_with_an_xmpp_contact_survives_a_server_restart(self):
        bob = self.befriend("bob-secret-2", self.bob)
        self.session.start_translator()
        peer = self.start_peer(self.password_file)
        self.window = self.session.start_velantro()

        # The roster is the contacts; the bare JID is the user's handle.
        try:
            wait_until(lambda: self.contacts() == [self.bob], 30, "bob as contact")
        except TimeoutError:
            self.fail("no contacts; velantro: " + self.read(self.session.path("velantro.err")) +
                      "; peer: " + self.read(self.peer_out) + self.read(self.peer_err))
        wait_until(lambda: self.window.caption().endswith(" - " + self.alice), 5, "the handle")

        # A message from bob arrives translated on his page.
        bob.send(self.alice, "Hola amigo")
        self.wait_for_page(self.bob, [f"{self.bob}: Hello friend"])

        # A reply typed in Velantro reaches bob translated, with the footer.
        self.window.choose("in", "Espanol")
        self.window.type_message("Thanks my friend")
        wait_until(self.window.send_enabled, 5, "Send enabled")
        self.window.press_send()
        reply = bob.wait_for("message")
        self.assertEqual(reply, {"event": "message", "from": self.alice,
                                 "body": "Gracias mi amigo" + FOOTER})
        self.wait_for_page(self.bob, [f"{self.bob}: Hello friend",
                                      f"{self.alice}: Thanks my friend (Gracias mi amigo)"])

        # A contact added from another device reaches the contacts at once.
        self.befriend("carol-secret-3", self.carol)
        wait_until(lambda: self.contacts() == [self.bob, self.carol], 20,
                   "carol among the contacts")

        # The server goes away and comes back: the peer signs in again and
        # Velantro attaches again by itself (the handle is reported again).
        self.server.stop()
        wait_until(lambda: "connection lost" in self.read(self.peer_err), 20, "the lost line")
        restarted = time.monotonic()
        self.server.start()
        # The caption carries the handle once, however often it is reported;
        # the messages below show the re-attach.
        wait_until(lambda: "attached as " + self.alice in self.window.status_line(), 60,
                   "the re-attach")
        self.assertEqual(self.window.caption().count(" - " + self.alice), 1)
        print(f"re-attached {time.monotonic() - restarted:.1f} s after the server started again",
              file=sys.stderr)
        bob = self.contact(self.bob, "bob-secret-2")
        bob.wait_for("ready")
        bob.send(self.alice, "Gracias")
        self.wait_for_page(self.bob, [f"{self.bob}: Hello friend",
                                      f"{self.alice}: Thanks my friend (Gracias mi amigo)",
                                      f"{self.bob}: Thanks"])
        self.assertIsNone(peer.poll())

        # The password is in none of the peer's outputs.
        for name in ("peer.out", "peer.err", "xmpp.log", "peer.log"):
            self.assertNotIn("alice-secret-1", self.read(self.session.path(name)), name)
        self.assertIn("[redacted]", self.read(self.session.path("xmpp.log")))

    def test_a_message_sent_while_neither_ran_is_shown_once_both_start(self):
        bob = self.befriend("bob-secret-2", self.bob)
        # Neither skype-peer nor Velantro runs: the server keeps it.
        bob.send(self.alice, "Hola amigo")
        self.session.start_translator()
        peer = self.start_peer(self.password_file)
        wait_until(lambda: self.signed_in_count() == 1, 30, "the sign-in")
        self.window = self.session.start_velantro()
        self.wait_for_page(self.bob,
                           [f"{self.bob}: Hello friend [received while Velantro was closed]"])
        wait_until(lambda: " SEEN" in self.read(self.session.path("peer.log")), 10,
                   "the message marked seen")

        # Both again: the history shows it, the chat client offers it no more.
        self.session.close_window()
        self.assertEqual(self.session.velantro.wait(15), 0)
        self.session.stop(peer)
        peer = self.start_peer(self.password_file)
        wait_until(lambda: self.signed_in_count() == 1, 30, "the second sign-in")
        self.window = self.session.start_velantro()
        wait_until(lambda: self.contacts() == [self.bob], 30, "bob as contact")
        time.sleep(2)  # what the chat client would offer again has come by now
        self.assertEqual(self.page(self.bob),
                         [f"{self.bob}: Hello friend [received while Velantro was closed]"])
        self.assertIsNone(peer.poll())

    def test_a_reply_typed_on_another_device_is_the_users_own_entry(self):
        bob = self.befriend("bob-secret-2", self.bob)
        self.session.start_translator()
        self.start_peer(self.password_file)
        self.window = self.session.start_velantro()
        wait_until(lambda: self.contacts() == [self.bob], 30, "bob as contact")
        bob.send(self.alice, "Hola amigo")
        self.wait_for_page(self.bob, [f"{self.bob}: Hello friend"])
        # alice answers from her phone; the server copies it to skype-peer.
        phone = self.contact(self.alice, "alice-secret-1")
        phone.wait_for("ready")
        phone.send(self.bob, "typed on my phone")
        self.wait_for_page(self.bob, [f"{self.bob}: Hello friend",
                                      f"{self.alice}: typed on my phone"])
        self.assertEqual(bob.wait_for("message")["body"], "typed on my phone")

    def signed_in_count(self):
        return self.read(self.peer_out).count("xmpp: signed in as ")

    def test_a_burst_of_200_long_messages_is_shown_whole_once_and_in_order(self):
        bob = self.befriend("bob-secret-2", self.bob)
        self.session.start_translator()
        peer = self.start_peer(self.password_file)
        self.window = self.session.start_velantro()
        wait_until(lambda: self.contacts() == [self.bob], 30, "bob as contact")

        # 2 KB each, sent at once: many arrive in one read, and several in
        # one TLS record, while the lines about the first are still going out.
        count = 200
        filler = "x" * (2048 - len("Hola amigo 000 "))
        for i in range(count):
            bob.send(self.alice, f"Hola amigo {i:03d} {filler}")
        expected = [f"{self.bob}: Hello friend {i:03d} {filler}" for i in range(count)]
        started = time.monotonic()
        try:
            wait_until(lambda: len(self.page(self.bob) or []) >= count, 240, f"{count} lines")
        except TimeoutError:
            shown = self.page(self.bob) or []
            missing = [i for i, line in enumerate(expected) if line not in shown]
            xmpp = self.read(self.session.path("xmpp.log"))
            self.fail(f"{len(shown)} of {count} shown, not {missing}; {xmpp.count('RECV: <message')}"
                      f" messages received; peer: {self.read(self.peer_err)}")
        print(f"{count} messages of 2 KB shown {time.monotonic() - started:.1f} s after they "
              f"were sent", file=sys.stderr)
        self.assertEqual(self.page(self.bob), expected)
        self.assertEqual(self.signed_in_count(), 1)
        self.assertNotIn("connection lost", self.read(self.peer_err))
        self.assertIsNone(peer.poll())

    def test_a_roster_of_20000_contacts_signs_in_once(self):
        # Contacts with a subscription both ways that the server has no
        # account for: each answers the sign-in with a presence of its own, a
        # flood right after the roster.
        roster = {f"contact{i:05d}@{LocalProsody.DOMAIN}": "both" for i in range(20000)}
        roster[self.bob] = "both"
        # A JID a friends list cannot carry: never a contact, and never two.
        roster["ann,carol@localhost"] = "both"
        self.server.stop()
        self.server.write_roster("alice", roster)
        self.server.start()
        self.session.start_translator()
        started = time.monotonic()
        peer = self.start_peer(self.password_file)
        self.window = self.session.start_velantro()

        def listed():
            try:
                return self.window.list_count("To")
            except Exception:  # the window not yet on the accessibility bus
                return None
        # Velantro fills its list slowly with the accessibility bridge on, and
        # does not answer meanwhile.
        wait_until(lambda: listed() == 20001, 240, "the roster among the contacts")
        print(f"20,001 contacts listed {time.monotonic() - started:.1f} s after the peer started",
              file=sys.stderr)
        bob = self.contact(self.bob, "bob-secret-2")
        bob.wait_for("ready")
        bob.send(self.alice, "Hola amigo")
        self.wait_for_page(self.bob, [f"{self.bob}: Hello friend"])
        # The sign-in holds: no second one after a while.
        time.sleep(5)
        self.assertEqual(self.signed_in_count(), 1, self.read(self.peer_err))
        self.assertNotIn("connection lost", self.read(self.peer_err))
        self.assertEqual(
            self.read(self.peer_err).splitlines(),
            ['skype-peer: XMPP: the roster item "ann,carol@localhost" is not offered as a friend: '
             'a friends list cannot carry a handle with a comma or a blank'])
        self.assertIsNone(peer.poll())

    def test_a_wrong_password_is_one_line_and_status_1(self):
        wrong = self.session.path("wrong.password")
        with open(wrong, "w") as file:
            file.write("not-the-password\n")
        started = time.monotonic()
        peer = self.start_peer(wrong)
        self.assertEqual(peer.wait(60), 1)
        print(f"refused and ended in {time.monotonic() - started:.1f} s", file=sys.stderr)
        self.assertEqual(self.read(self.peer_err).splitlines(),
                         [f"skype-peer: XMPP sign-in failed: the server did not accept the "
                          f"password of {self.alice}"])
        self.assertNotIn("not-the-password", self.read(self.peer_out))


if __name__ == "__main__":
    BIN, argv = desktop_session.test_arguments(("pyatspi", "slixmpp"))
    if not LocalProsody.available():
        print("skipped: prosody, prosodyctl or openssl missing")
        sys.exit(77)
    unittest.main(argv=argv, verbosity=2)
