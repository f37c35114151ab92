"""Velantro end to end: the real program, the chat-client and translator
stand-ins as their own processes on a private session bus, the window read
and driven through the accessibility tree on a virtual display."""

import os
import signal
import sys
import unittest

import desktop_session
from desktop_session import DesktopSession, wait_until

BIN = None
CAPTION = "Velantro 1.0:01"


class VelantroTest(unittest.TestCase):
    def setUp(self):
        self.session = DesktopSession(BIN)
        self.addCleanup(self.session.close)

    def start_all(self):
        self.session.start_translator()
        self.session.start_peer()
        self.window = self.session.start_velantro()
        wait_until(lambda: self.window.list_items("To"), 15, "the contacts")

    def sent_messages(self):
        return [line for line in self.session.peer_log() if line.startswith("MESSAGE ")]

    def wait_for_page(self, caption, lines):
        try:
            wait_until(lambda: self.window.page_lines(caption) == lines, 10, f"{lines}")
        except TimeoutError:
            self.fail(f"{caption}'s page shows {self.window.page_lines(caption)}, not {lines};"
                      f" pages: {self.window.pages()}; error box: {self.window.error_box()}")

    def wait_for_error(self):
        return wait_until(self.window.error_box, 30, "the error box")

    def test_contacts_caption_and_incoming_messages(self):
        self.start_all()
        self.assertEqual(self.window.list_items("To"), ["alice", "bob", "Carol", "echo"])
        self.assertEqual(self.window.caption(), CAPTION + " - maria")

        self.session.peer_says("alice: Hola amigo")
        self.wait_for_page("alice", ["alice: Hello friend"])
        self.assertEqual(self.window.list_text("To"), "alice")

        # Pieces of two messages interleaved, one body before its sender, and
        # a sender who is no contact.
        for line in ["CHATMESSAGE 901 FROM_HANDLE bob", "CHATMESSAGE 902 BODY Bonjour",
                     "CHATMESSAGE 901 BODY Gracias", "CHATMESSAGE 902 FROM_HANDLE alice",
                     "CHATMESSAGE 903 BODY Hola", "CHATMESSAGE 903 FROM_HANDLE zoe"]:
            self.session.peer_says("raw " + line)
        self.wait_for_page("zoe", ["zoe: Hello"])
        self.assertEqual(self.window.page_lines("bob"), ["bob: Thanks"])
        self.assertEqual(self.window.page_lines("alice"), ["alice: Hello friend", "alice: Hello"])
        # Messages only add their pages: whom you write to stays the page in front.
        self.assertEqual(self.window.list_text("To"), "alice")
        # Shown messages left the queue: a body sent again starts a new wait.
        self.session.peer_says("raw CHATMESSAGE 901 BODY Gracias")
        self.session.peer_says("bob: Hola")
        self.wait_for_page("bob", ["bob: Thanks", "bob: Hello"])

        # The chat client restarts with another friends list and user.
        self.session.stop(self.session.peer)
        self.session.start_peer(friends="dave,alice", user="maria.k")
        # The friends first; partners with a page who are no friends after them.
        wait_until(lambda: self.window.list_items("To")[:2] == ["alice", "dave"], 15,
                   "the contacts after the re-attach")
        wait_until(lambda: self.window.caption().endswith(" - maria.k"), 5, "the new handle")

    def test_a_burst_of_1000_messages_shows_each_once(self):
        self.start_all()
        senders = ["alice", "bob", "Carol"]
        lines = [f"{senders[n % 3]}: Hola {n}" for n in range(1000)]
        self.session.peer.stdin.write(("\n".join(lines) + "\n").encode())
        self.session.peer.stdin.flush()
        wait_until(lambda: sum(len(page) for _, page in self.window.pages()) >= 1000, 240,
                   "1,000 entries")
        # The client's answers interleave with its notifications, so messages
        # complete, and show, in an order of their own.
        for index, sender in enumerate(senders):
            expected = [f"{sender}: Hello {n}" for n in range(index, 1000, 3)]
            self.assertCountEqual(self.window.page_lines(sender), expected)

    def test_translator_down_shows_each_message_at_once_and_translates_it_later(self):
        self.start_all()
        self.session.stop(self.session.translator)
        untranslated = []
        for n in (1, 2, 3):
            self.session.peer_says(f"bob: Hola {n}")
            untranslated.append(f"bob: Hola {n} [not translated]")
            self.wait_for_page("bob", untranslated)
            # No box: the status line counts the messages waiting.
            wait_until(lambda: f"messages waiting: {n}" in self.window.status_line(), 10,
                       f"{n} waiting on the status line")
            self.assertIsNone(self.window.error_box())

        # The next message translates, and so do the waiting ones, each in its
        # place on the page.
        self.session.start_translator()
        self.session.peer_says("bob: Hola 4")
        self.wait_for_page("bob", ["bob: Hello 1", "bob: Hello 2", "bob: Hello 3", "bob: Hello 4"])
        # Announced again, a message shown translated is not shown again.
        requested = [line for line in self.session.peer_log() if line.endswith(" BODY")]
        message_id = requested[-1].split()[2]
        self.session.peer_says(f"raw CHATMESSAGE {message_id} STATUS RECEIVED")
        self.session.peer_says(f"raw CHATMESSAGE {message_id} BODY Hola 4")
        self.session.peer_says("alice: Hola")
        self.wait_for_page("alice", ["alice: Hello"])
        self.assertEqual(len(self.window.page_lines("bob")), 4)

    def test_a_message_arriving_while_a_reply_is_written_keeps_the_recipient(self):
        self.start_all()
        self.window.choose("To", "alice")
        self.window.type_message("Hello alice")
        self.session.peer_says("bob: Hola")
        self.wait_for_page("bob", ["bob: Hello"])
        self.assertEqual(self.window.list_text("To"), "alice")
        self.assertEqual(self.window.message_text(), "Hello alice")
        self.window.press_send()
        self.wait_for_page("alice", ["maria: Hello alice (Hello alice)"])
        self.assertEqual(self.sent_messages(),
                         ["MESSAGE alice Hello alice - Translated with Velantro"])
        # With the field empty again, a message still leaves the choice alone.
        self.session.peer_says("Carol: Hola")
        self.wait_for_page("Carol", ["Carol: Hello"])
        self.assertEqual(self.window.list_text("To"), "alice")

    def test_an_engine_server_down_is_an_error_box_and_nothing_is_lost(self):
        from desktop_session import free_port
        self.session.start_translator("--engine", "libretranslate",
                                      f"http://127.0.0.1:{free_port()}")
        self.session.start_peer()
        self.window = self.session.start_velantro()
        wait_until(lambda: self.window.list_items("To"), 15, "the contacts")
        self.session.peer_says("alice: Hola")
        # An incoming message that can't be translated opens no box: its entry
        # and the status line say so.
        self.wait_for_page("alice", ["alice: Hola [not translated]"])
        wait_until(lambda: "not answering" in (self.window.status_line() or ""), 10,
                   "the status line")
        self.assertIsNone(self.window.error_box())
        self.window.type_message("Hello")
        self.window.press_send()
        self.assertIn("500 libretranslate", self.wait_for_error())
        self.window.dismiss_error_box()
        self.assertEqual(self.window.message_text(), "Hello")
        self.assertEqual(self.window.page_lines("alice"), ["alice: Hola [not translated]"])
        self.assertEqual(self.sent_messages(), [])

    def test_outgoing_messages(self):
        self.start_all()
        self.window.choose("To", "Carol")
        self.window.choose("in", "Espanol")
        self.window.type_message("Hello my\nfriend")
        wait_until(self.window.send_enabled, 5, "Send enabled")
        self.window.press_send()
        # Its further lines are indented, so that none looks like an entry.
        self.wait_for_page("Carol", ["maria: Hello my", "\tfriend (Hola mi", "\tamigo)"])
        wait_until(self.sent_messages, 5, "the message at the chat client")
        self.assertEqual(self.sent_messages(),
                         [r"MESSAGE Carol Hola mi\r\namigo - Translated with Velantro"])
        # The request carried CR LF between the lines, as character references.
        self.assertIn(b"%26%2313%3B%26%2310%3B", self.session.translator_log())
        self.assertEqual(self.window.message_text(), "")
        self.assertFalse(self.window.send_enabled())

        self.window.choose("in", "Български")
        self.window.type_message("Hello")
        self.window.press_send()
        wait_until(lambda: len(self.sent_messages()) == 2, 5, "the Bulgarian message")
        self.assertEqual(self.sent_messages()[1],
                         "MESSAGE Carol Здравей - Преведено със Velantro")

        # Too long for the chat client (1,000 bytes of UTF-8 and the footer):
        # refused with the limit named.
        self.window.choose("in", "English")
        self.window.type_message("я" * 500)
        self.window.press_send()
        error = self.wait_for_error()
        self.assertIn("1023", error)
        self.window.dismiss_error_box()
        self.assertEqual(len(self.sent_messages()), 2)
        self.assertEqual(self.window.message_text(), "я" * 500)
        self.assertTrue(self.window.send_enabled())

        # A handle the chat client does not know (the friends list it sent is
        # stale): its ERROR answer is the box, and nothing is written.
        self.session.peer_says("raw USERS alice, bob, Carol, echo, ghost")
        wait_until(lambda: "ghost" in self.window.list_items("To"), 10, "the stale list")
        self.window.choose("To", "ghost")
        self.window.type_message("Goodbye")
        self.window.press_send()
        self.assertEqual(self.wait_for_error(), 'The message to "ghost" was not sent: the chat'
                         ' client refused it with error 4: Invalid user handle.')
        self.window.dismiss_error_box()
        self.assertEqual(self.window.message_text(), "Goodbye")
        self.assertTrue(self.window.send_enabled())
        # Chosen in "To", ghost's page is shown; the refused send wrote nothing on it.
        self.assertEqual(self.window.page_lines("ghost"), [])
        self.assertEqual(len(self.window.page_lines("Carol")), 4)
        self.assertEqual(self.sent_messages()[-1],
                         "MESSAGE ghost Goodbye - Translated with Velantro")

        # The chat client gone: its window no longer takes anything.
        self.session.stop(self.session.peer)
        self.window.choose("To", "Carol")
        # Carol's page brings back Carol's draft, the refused long text.
        self.window.type_message("Goodbye")
        self.window.press_send()
        self.assertEqual(self.wait_for_error(), 'The message to "Carol" was not sent: the chat'
                         ' client did not take it, or did not answer in time.')
        self.window.dismiss_error_box()
        self.assertEqual(self.window.message_text(), "Goodbye")
        self.assertEqual(len(self.window.page_lines("Carol")), 4)

    def test_without_the_chat_client_nothing_is_sent(self):
        self.session.start_translator()
        self.window = self.session.start_velantro()
        wait_until(self.window.label_texts, 15, "the window")
        self.window.type_message("Hello")
        wait_until(self.window.send_enabled, 5, "Send enabled")
        self.window.press_send()
        self.assertEqual(self.wait_for_error(), "The message was not sent: Velantro is not"
                         " attached to the chat client.")
        self.window.dismiss_error_box()
        self.assertEqual(self.window.message_text(), "Hello")
        self.assertTrue(self.window.send_enabled())
        self.assertEqual(self.window.pages(), [])

    def test_empty_translation_sends_the_footer_alone(self):
        self.session.start_translator = lambda: None
        fake = EmptyTranslator(self.session.port)
        self.addCleanup(fake.shutdown)
        self.session.start_peer()
        self.window = self.session.start_velantro()
        wait_until(lambda: self.window.list_items("To"), 15, "the contacts")
        self.window.type_message("Hello")
        self.window.press_send()
        self.wait_for_page("alice", ["maria: Hello"])
        self.assertEqual(self.sent_messages(), ["MESSAGE alice  - Translated with Velantro"])

    def test_alone_it_stays_up_and_sigterm_writes_the_settings(self):
        self.session.start_velantro()
        with self.assertRaises(Exception):
            self.session.velantro.wait(2)
        self.session.velantro.send_signal(signal.SIGTERM)
        self.assertEqual(self.session.velantro.wait(10), 0)
        with open(self.session.path("config/velantro.ini")) as settings:
            keys = [line.split("=")[0] for line in settings if "=" in line]
        self.assertEqual(keys, ["Receive", "Send", "Left", "Top", "Width", "Height"])


class EmptyTranslator:
    """A translation service whose every answer is empty."""

    def __init__(self, port):
        import http.server
        import threading

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                self.rfile.read(int(self.headers["Content-Length"]))
                self.send_response(200)
                self.send_header("Content-Length", "4")
                self.end_headers()
                self.wfile.write(b"l1=&")

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
