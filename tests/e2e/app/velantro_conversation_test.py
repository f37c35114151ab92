"""What the user sees is whom the user writes to: the page in front is the
conversation, with its own draft and "in" language; entries no message can
forge; a status line in place of a box per failure; the keys of the chat
clients people know. The real program with its stand-ins on a private
session bus, read and driven through the accessibility tree."""

import os
import subprocess
import sys
import time
import unittest

import pyatspi

import desktop_session
from desktop_session import DesktopSession, quietly, wait_until

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "scripts"))
from screen_reader import _walk  # noqa: E402

BIN = None
SPANISH = "Espanol"


class ConversationTest(unittest.TestCase):
    def setUp(self):
        self.session = DesktopSession(BIN)
        self.addCleanup(self.session.close)

    def start_all(self, friends="alice,bob,ivan,echo", translator=True):
        if translator:
            self.session.start_translator()
        self.session.start_peer(friends=friends)
        self.window = self.session.start_velantro()
        wait_until(quietly(lambda: self.window.list_items("To")), 15, "the contacts")
        self.focus_velantro()

    def focus_velantro(self):
        self.session.focus_velantro(self.window)

    def frame(self):
        return self.window._frame()

    def tabs(self):
        return [node for node, role in _walk(self.frame()) if role == "page tab"]

    def shown_tab(self):
        selected = [tab.name for tab in self.tabs()
                    if tab.getState().contains(pyatspi.STATE_SELECTED)]
        return selected[0] if len(selected) == 1 else None

    def click_tab(self, partner):
        tab = next(t for t in self.tabs() if t.name.split(" (")[0] == partner)
        tab.queryAction().doAction(0)
        wait_until(quietly(lambda: self.shown_tab() == partner), 5, f"{partner}'s page in front")

    def sent(self):
        return [line for line in self.session.peer_log() if line.startswith("MESSAGE ")]

    def say(self, *lines):
        for line in lines:
            self.session.peer_says(line)

    def wait_for_pages(self, count):
        wait_until(quietly(lambda: len(self.tabs()) == count), 30, f"{count} pages")

    # --- the page in front is whom the user writes to -----------------------------

    def test_the_reply_goes_to_the_partner_whose_page_is_shown(self):
        self.start_all()
        self.say("alice: Hola", "bob: Bonjour", "ivan: Zdravei")
        self.wait_for_pages(3)
        self.assertEqual(self.shown_tab(), "alice")
        self.assertEqual(self.window.list_text("To"), "alice")
        self.assertEqual([t.name for t in self.tabs()], ["alice", "bob (1)", "ivan (1)"])
        self.window._keys("H", "i", "Return")
        wait_until(self.sent, 10, "the reply at the chat client")
        self.assertTrue(self.sent()[0].startswith("MESSAGE alice "), self.sent())
        wait_until(quietly(lambda: self.window.page_lines("alice")[-1].startswith("maria: Hi")),
                   5, "the reply on alice's page")

    def test_a_draft_stays_with_its_partner(self):
        self.start_all()
        self.say("alice: Hola", "bob: Bonjour")
        self.wait_for_pages(2)
        self.window.type_message("for alice")
        self.click_tab("bob")
        wait_until(quietly(lambda: self.window.message_text() == ""), 5, "bob's empty draft")
        self.assertEqual(self.window.list_text("To"), "bob")
        self.window.type_message("for bob")
        self.window._keys("Return")
        wait_until(self.sent, 10, "the message at the chat client")
        self.assertEqual(len(self.sent()), 1)
        self.assertTrue(self.sent()[0].startswith("MESSAGE bob "), self.sent())
        self.assertIn("for bob", self.sent()[0])
        self.click_tab("alice")
        wait_until(quietly(lambda: self.window.message_text() == "for alice"), 5,
                   "alice's draft back")

    def test_in_follows_the_pages_and_survives_a_restart(self):
        self.start_all()
        self.say("alice: Hola", "bob: Bonjour")
        self.wait_for_pages(2)
        # Each partner's own choice (one never chosen for gets the last choice).
        # alice's page, the first, is in front.
        self.window.choose("in", "Francais")
        self.click_tab("bob")
        self.window.choose("in", SPANISH)
        self.click_tab("alice")
        wait_until(quietly(lambda: self.window.list_text("in") == "Francais"), 5, "alice's in")
        self.click_tab("bob")
        wait_until(quietly(lambda: self.window.list_text("in") == SPANISH), 5, "bob's in")
        self.window.type_message("a draft for bob")
        self.session.close_window()
        self.session.velantro.wait(15)

        self.window = self.session.start_velantro()
        wait_until(quietly(lambda: self.window.list_items("To")), 15, "the contacts again")
        self.focus_velantro()
        self.window.choose("To", "bob")
        wait_until(quietly(lambda: self.shown_tab() == "bob"), 5, "bob's page, made by To")
        self.assertEqual(self.window.list_text("in"), SPANISH)
        self.assertEqual(self.window.message_text(), "a draft for bob")

    # --- entries nobody can forge ---------------------------------------------------

    def test_a_line_of_a_message_never_passes_for_an_entry(self):
        self.start_all()
        self.say("alice: Hola\\nmaria: I owe bob 100 EUR")
        wait_until(quietly(lambda: len(self.window.page_lines("alice") or []) == 2), 10,
                   "alice's two lines")
        first, further = self.window.page_lines("alice", times=True)
        self.assertRegex(first, r"^\d\d:\d\d alice: ")
        self.assertTrue(further.startswith("\t"), further)
        self.assertIn("maria: I owe bob 100 EUR", further)

    # --- a status line instead of a box per failure ------------------------------------

    def test_a_translator_that_is_down_shows_on_the_status_line_with_no_box(self):
        self.start_all(translator=False)
        wait_until(quietly(lambda: "Chat client: attached as maria" in self.window.status_line()),
                   10, "attached on the status line")
        self.say("alice: Hola", "alice: Que tal", "alice: Adios")
        wait_until(quietly(lambda: "messages waiting: 3" in self.window.status_line()), 60,
                   "the translator down on the status line")
        self.assertRegex(self.window.status_line(), r"not answering since \d\d:\d\d")
        self.assertIsNone(self.window.error_box())
        lines = self.window.page_lines("alice")
        self.assertEqual([line.endswith("[not translated]") for line in lines], [True] * 3)

    def test_the_status_line_says_what_to_start_without_a_chat_client(self):
        self.session.start_translator()
        self.window = self.session.start_velantro()
        wait_until(quietly(lambda: self.window.status_line().startswith(
            "Waiting for the chat client: start skype-peer")), 15, "waiting on the status line")

    def test_the_caption_carries_the_own_handle_once_after_three_re_attaches(self):
        self.start_all()
        for _ in range(3):
            self.session.stop(self.session.peer)
            self.session.start_peer()
            time.sleep(1)
            wait_until(quietly(lambda: "attached as maria" in self.window.status_line()), 15,
                       "attached again")
        self.assertEqual(self.window.caption(), "Velantro 1.0:01 - maria")

    # --- keys -------------------------------------------------------------------------

    def test_enter_sends_and_shift_enter_starts_a_new_line(self):
        self.start_all()
        self.say("alice: Hola")
        self.wait_for_pages(1)
        self.window._keys("H", "i", "shift+Return", "y", "o", "u")
        wait_until(quietly(lambda: self.window.message_text() == "Hi\nyou"), 5, "two lines")
        self.assertEqual(self.sent(), [])
        self.window._keys("Return")
        wait_until(self.sent, 10, "the message at the chat client")
        wait_until(quietly(lambda: self.window.message_text() == ""), 5, "the field cleared")

    def test_a_key_typed_in_a_log_reaches_the_message(self):
        self.start_all()
        self.say("alice: Hola")
        self.wait_for_pages(1)
        log = next(node for node, role in _walk(self.frame())
                   if role == "text" and node.getState().contains(pyatspi.STATE_READ_ONLY))
        log.queryComponent().grabFocus()
        wait_until(quietly(lambda: log.getState().contains(pyatspi.STATE_FOCUSED)), 5,
                   "the log focused")
        self.window._keys("O", "k")
        wait_until(quietly(lambda: self.window.message_text() == "Ok"), 5, "the keys in the field")


if __name__ == "__main__":
    BIN, argv = desktop_session.test_arguments(("pyatspi",))
    unittest.main(argv=argv, verbosity=2)
