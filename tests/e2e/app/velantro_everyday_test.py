"""Velantro for a day of chatting, as a keyboard user and a screen reader see
it: every tab reachable, the focus where the next keys belong, a sign when a
message arrives (unread tab, desktop notification), the roles and names a
screen reader announces, and a window that stays responsive under a huge
translation. The real program with its stand-ins on a private session bus."""

import http.server
import json
import os
import subprocess
import re
import sys
import threading
import time
import unittest

import pyatspi

import desktop_session
from desktop_session import DesktopSession, quietly, wait_until

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "scripts"))
from screen_reader import _look_up, _walk  # noqa: E402

BIN = None
HERE = os.path.dirname(os.path.abspath(__file__))


def extents(node):
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def inside(inner, outer):
    x, y, w, h = inner
    ox, oy, ow, oh = outer
    return w > 0 and h > 0 and x >= ox and y >= oy and x + w <= ox + ow and y + h <= oy + oh


class EverydayTest(unittest.TestCase):
    def setUp(self):
        self.session = DesktopSession(BIN)
        self.addCleanup(self.session.close)

    def start_all(self, friends="alice,bob,Carol,echo"):
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

    def tab_rows_view(self):
        """The part of the window that shows the tab rows: the view (parent)
        of the tab list, through which the rows scroll."""
        def path_to_tab(node, path):
            if node.getRoleName() == "page tab":
                return path
            for index in range(node.childCount):
                found = path_to_tab(node.getChildAtIndex(index), path + [node])
                if found:
                    return found
            return None
        path = path_to_tab(self.frame(), [])
        self.assertEqual(path[-1].getRoleName(), "page tab list")
        return path[-2]

    def message_edit(self):
        return _look_up(self.window._message_edit_now, "the message field")

    def tab(self, name):
        # A tab's name is its partner's handle, then its unread count: "bob (2)".
        return next(node for node in self.tabs() if node.name.split(" (")[0] == name)

    def focused(self):
        for node, _ in _walk(self.frame()):
            if node.getState().contains(pyatspi.STATE_FOCUSED):
                return node
        return None

    def sent_messages(self):
        return [line for line in self.session.peer_log() if line.startswith("MESSAGE ")]

    def wait_for_pages(self, count):
        wait_until(quietly(lambda: len(self.tabs()) == count), 60, f"{count} pages")

    # --- every tab reachable ---------------------------------------------------

    def test_every_tab_of_40_partners_lies_inside_the_window(self):
        partners = [f"friend{n:02}" for n in range(40)]
        self.start_all(",".join(partners))
        for partner in partners:
            self.session.peer_says(f"{partner}: Hola")
        self.wait_for_pages(40)
        window = extents(self.frame())
        tabs = self.tabs()
        # In page order; a tab names its unread messages after the partner.
        self.assertEqual([re.sub(r" \(\d+\)$", "", tab.name) for tab in tabs], partners)
        outside = [tab.name for tab in tabs if not inside(extents(tab), window)]
        self.assertEqual(outside, [])

        # At the design size the rows scroll to leave the page room; with the
        # keyboard each page in turn has its tab selected and scrolled on show.
        rows = self.tab_rows_view()
        seen = []
        for step in range(40):
            selected = wait_until(quietly(lambda: [t for t in self.tabs() if t.getState()
                                                   .contains(pyatspi.STATE_SELECTED)]),
                                  5, "a selected tab")
            self.assertEqual(len(selected), 1)
            self.assertTrue(inside(extents(selected[0]), extents(rows)), selected[0].name)
            seen.append(selected[0].name)
            self.window._keys("ctrl+Next")
        self.assertEqual(seen, partners)
        wait_until(quietly(lambda: self.tab(partners[0]).getState().contains(
            pyatspi.STATE_SELECTED)), 5, "the first page again after the last")

    # --- keyboard and focus ----------------------------------------------------

    def test_focus_stays_with_the_message_and_enter_sends(self):
        self.start_all()
        focused = wait_until(quietly(self.focused), 10, "a focused object")
        self.assertEqual((focused.getRoleName(), focused.name), ("text", "Message"))

        self.window._keys("H", "i", "shift+Return", "y", "o", "u", "Escape")
        wait_until(quietly(lambda: self.window.message_text() == "Hi\nyou"), 5, "the typed text")
        self.assertEqual(self.window.list_text("Receive in:"), "English")

        self.window._keys("Return")
        wait_until(self.sent_messages, 10, "the message at the chat client")
        self.assertEqual(self.window.page_lines("alice"), ["maria: Hi", "\tyou (Hi", "\tyou)"])
        wait_until(quietly(lambda: self.window.message_text() == ""), 5, "the field cleared")
        self.assertEqual(self.focused().name, "Message")

        self.window.type_message("Hello")
        wait_until(self.window.send_enabled, 5, "Send enabled")
        self.window.press_send()
        wait_until(lambda: len(self.sent_messages()) == 2, 10, "the second message")
        focused = wait_until(quietly(self.focused), 5, "a focused object")
        self.assertEqual((focused.getRoleName(), focused.name), ("text", "Message"))
        self.window._keys("b", "o", "b")
        wait_until(quietly(lambda: self.window.message_text() == "bob"), 5, "typing goes on")
        self.assertEqual(self.window.list_text("To"), "alice")

    # --- a sign that a message arrived -------------------------------------------

    def test_unread_marks_and_desktop_notifications(self):
        log = self.session.path("notifications.log")
        service = self.session._start([sys.executable, os.path.join(HERE, "notification_service.py"),
                                       log], stdout=subprocess.PIPE)
        self.addCleanup(service.stdout.close)
        self.assertEqual(service.stdout.readline().strip(), b"ready")

        def calls():
            try:
                with open(log, encoding="utf-8") as lines:
                    return [json.loads(line) for line in lines]
            except FileNotFoundError:
                return []

        self.start_all()
        self.session.peer_says("alice: Hola")
        wait_until(quietly(lambda: self.window.page_lines("alice")), 10, "alice's page")
        self.session.peer_says("bob: Hola")
        wait_until(quietly(lambda: self.tab("bob").description == "Unread messages"), 10,
                   "bob's tab marked unread")
        self.assertEqual(self.tab("bob").name, "bob (1)")
        self.assertEqual(self.tab("alice").description, "No unread messages")
        time.sleep(1)
        self.assertEqual(calls(), [], "no notification while the window is active")

        self.tab("bob").queryAction().doAction(0)
        wait_until(quietly(lambda: self.tab("bob").description == "No unread messages"), 5,
                   "bob's mark gone once shown")

        # Another program takes the focus: messages now reach the desktop.
        other = self.session._start(["xmessage", "-geometry", "+600+500", "elsewhere"])
        window_id = wait_until(lambda: subprocess.run(
            ["xdotool", "search", "--onlyvisible", "--class", "Xmessage"], env=self.session.env,
            capture_output=True, text=True).stdout.split(), 10, "the other window")[-1]
        subprocess.run(["xdotool", "windowfocus", "--sync", window_id], env=self.session.env,
                       check=True)
        wait_until(quietly(lambda: not self.frame().getState().contains(pyatspi.STATE_ACTIVE)),
                   5, "velantro inactive")
        self.session.peer_says("alice: Hola amigo")
        self.session.peer_says("alice: Gracias")
        wait_until(lambda: len(calls()) == 2, 10, "two notifications")
        first, second = calls()
        self.assertEqual((first["call"], first["app"], first["summary"], first["body"]),
                         ("Notify", "Velantro", "alice", "Hello friend"))
        self.assertEqual((second["summary"], second["body"], second["replaces"]),
                         ("alice", "Thanks", first["id"]))  # one bubble per partner
        wait_until(quietly(lambda: self.tab("alice").description == "Unread messages"), 5,
                   "alice's tab marked: the window was not looked at")

        # Back to velantro, bob's page in front: alice's mark and bubble stay
        # until her page is shown.
        self.focus_velantro()
        time.sleep(1)
        self.assertEqual(len(calls()), 2)
        self.assertEqual(self.tab("alice").description, "Unread messages")
        self.tab("alice").queryAction().doAction(0)
        wait_until(lambda: len(calls()) == 3, 10, "the notification withdrawn")
        self.assertEqual(calls()[2], {"call": "CloseNotification", "id": first["id"]})
        wait_until(quietly(lambda: self.tab("alice").description == "No unread messages"), 5,
                   "alice's mark gone")

    # --- screen readers ----------------------------------------------------------

    def test_roles_and_names_a_screen_reader_announces(self):
        self.start_all()
        self.assertEqual(self.frame().getRoleName(), "frame")
        self.assertEqual(self.message_edit().name, "Message")
        self.session.peer_says("alice: Hola")
        wait_until(quietly(lambda: self.tabs()), 10, "alice's tab")
        self.assertEqual([(t.name, t.description) for t in self.tabs()],
                         [("alice", "No unread messages")])

        self.window.choose("Receive in:", "Български")
        wait_until(quietly(lambda: self.message_edit().name == "Съобщение"), 5,
                   "the message field's Bulgarian name")
        self.assertEqual(self.tabs()[0].description, "Няма непрочетени съобщения")
        self.assertEqual(self.window.send_button_name(), "Изпрати")

        # A send the translator cannot take opens the box (a message that
        # comes in only marks its entry and the status line).
        self.session.stop(self.session.translator)
        self.window.type_message("Hola")
        self.window.press_send()
        wait_until(quietly(self.window.error_box), 30, "the error box")
        roles = [self.window.app.getChildAtIndex(i).getRoleName()
                 for i in range(self.window.app.childCount)]
        self.assertIn("alert", roles)

    # --- a huge translation -------------------------------------------------------

    def test_a_translation_of_a_million_characters_is_cut_and_the_window_answers(self):
        self.session.start_translator = lambda: None
        server = HugeTranslator(self.session.port, 1_000_000)
        self.addCleanup(server.shutdown)
        self.session.start_peer()
        self.window = self.session.start_velantro()
        wait_until(quietly(lambda: self.window.list_items("To")), 15, "the contacts")
        start = time.monotonic()
        self.session.peer_says("alice: Hola")
        lines = wait_until(quietly(lambda: self.window.page_lines("alice")), 60, "the entry")
        shown = time.monotonic() - start
        self.assertEqual(len(lines), 1)
        self.assertTrue(lines[0].startswith("alice: www"))
        # The text is cut; the sender stands before it, outside the cut.
        self.assertTrue(lines[0].endswith("\u2026 [cut: 934,464 more characters not shown]"),
                        lines[0][-80:])
        self.assertEqual(len(lines[0]), len("alice: ") + 65536 +
                         len("\u2026 [cut: 934,464 more characters not shown]"))
        # The window answers a reading at once afterwards.
        start = time.monotonic()
        self.window.type_message("still here")
        self.assertEqual(self.window.message_text(), "still here")
        answered = time.monotonic() - start
        print(f"\n  1,000,000 characters: entry shown after {shown:.2f} s,"
              f" next answer in {answered:.3f} s", file=sys.stderr)
        self.assertLess(shown, 30)


class HugeTranslator:
    """A translation service that answers every request with size letters."""

    def __init__(self, port, size):
        reply = b"l1=" + b"w" * size + b"&"

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                self.rfile.read(int(self.headers["Content-Length"]))
                self.send_response(200)
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass

        self.server = http.server.HTTPServer(("127.0.0.1", port), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def shutdown(self):
        self.server.shutdown()
        self.server.server_close()


if __name__ == "__main__":
    BIN, argv = desktop_session.test_arguments(("pyatspi",))
    unittest.main(argv=argv, verbosity=2)
