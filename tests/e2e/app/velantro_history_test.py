"""Conversations that last: the pages come back after a restart as they
were, a message that came while Velantro was closed is shown once on the
next start (and not again after another), Ctrl+F finds an entry of the
history, and --no-history keeps nothing. The real program with its
stand-ins on a private session bus, read and driven through the
accessibility tree."""

import os
import sqlite3
import sys
import time
import unittest

import desktop_session
from desktop_session import DesktopSession, quietly, wait_until

BIN = None
MISSED = " [received while Velantro was closed]"


class HistoryTest(unittest.TestCase):
    def setUp(self):
        self.session = DesktopSession(BIN)
        self.addCleanup(self.session.close)
        self.session.start_translator()
        self.session.start_peer(friends="alice,bob,ivan")

    def start_velantro(self, *args):
        self.window = self.session.start_velantro(*args)
        wait_until(quietly(lambda: self.window.list_items("To")), 15, "the contacts")
        self.session.focus_velantro(self.window)

    def restart(self, *args):
        self.session.close_window()
        self.assertEqual(self.session.velantro.wait(15), 0)
        self.start_velantro(*args)

    def lines(self, partner):
        return self.window.page_lines(partner) or []

    def wait_for_lines(self, partner, count):
        wait_until(quietly(lambda: len(self.lines(partner)) == count), 20,
                   f"{count} entries on {partner}'s page")
        return self.lines(partner)

    def history_file(self):
        return self.session.path(os.path.join("data", "velantro", "history.sqlite"))

    def test_pages_come_back_and_missed_messages_show_once(self):
        self.start_velantro()
        self.session.peer_says("alice: Hola")
        self.session.peer_says("bob: Bonjour")
        self.wait_for_lines("alice", 1)
        self.window._keys("H", "i", "Return")
        alice = self.wait_for_lines("alice", 2)
        bob = self.wait_for_lines("bob", 1)

        self.session.close_window()
        self.assertEqual(self.session.velantro.wait(15), 0)
        # Nobody attached: skype-peer keeps it as missed.
        self.session.peer_says("ivan: while you were away")
        time.sleep(1)  # read from the console at once; no program is told of it

        self.start_velantro()
        self.assertEqual(self.lines("alice"), alice)
        self.assertEqual(self.lines("bob"), bob)
        ivan = self.wait_for_lines("ivan", 1)
        self.assertTrue(ivan[0].startswith("ivan: ") and ivan[0].endswith(MISSED), ivan)
        wait_until(lambda: any(line.startswith("SET CHATMESSAGE ") and line.endswith(" SEEN")
                               for line in self.session.peer_log()), 10, "the message marked seen")

        self.restart()
        self.assertEqual([name for name, _ in self.window.pages()], ["alice", "bob", "ivan"])
        self.assertEqual(self.lines("ivan"), ivan, "shown once, from the history")

    def test_ctrl_f_finds_an_entry_of_the_history(self):
        self.start_velantro()
        for word in ("Hola", "manzana verde", "Adios"):
            self.session.peer_says(f"alice: {word}")
        self.wait_for_lines("alice", 3)
        self.restart()
        self.window._keys("ctrl+f")
        for key in "manz":
            self.window._keys(key)
        self.window._keys("Return")
        wait_until(quietly(lambda: "1 of 1" in self.window.label_texts()), 10,
                   "one entry found")
        self.window._keys("Escape")

    def test_no_history_reads_and_writes_none(self):
        self.start_velantro()
        self.session.peer_says("alice: Hola")
        self.wait_for_lines("alice", 1)
        self.restart("--no-history")
        self.assertIsNone(self.window.page_lines("alice"))
        wait_until(quietly(lambda: self.window.status_line().endswith("History: off")), 10,
                   "the status line")
        self.session.peer_says("bob: not kept")
        self.wait_for_lines("bob", 1)
        with sqlite3.connect(f"file:{self.history_file()}?mode=ro", uri=True) as db:
            stored = [row[0] for row in db.execute("SELECT original FROM entries")]
        self.assertEqual(len(stored), 1, stored)


if __name__ == "__main__":
    BIN, argv = desktop_session.test_arguments(("pyatspi",))
    unittest.main(argv=argv, verbosity=2)
