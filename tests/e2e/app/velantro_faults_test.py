"""Velantro under faults: the real program on a private session bus while its
chat client, its translation service and its files misbehave. Every case
checks that nothing is lost, that the program neither crashes nor hangs past
its time-outs, and that the window goes on answering afterwards."""

import gzip
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest

import desktop_session
from desktop_session import DesktopSession, quietly, wait_until

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from bus_peer import message_id  # noqa: E402

BIN = None
HERE = os.path.dirname(os.path.abspath(__file__))
SETTINGS = b"[General]\nReceive=1\nSend=2\nLeft=40\nTop=50\nWidth=500\nHeight=400\n"
# The longest a message send waits for the chat client, and the exchange's
# time-outs: nothing for 60 s, or 120 s in all.
SEND_TIMEOUT = 25
IDLE_TIMEOUT = 60
EXCHANGE_DEADLINE = 120


class FaultTest(unittest.TestCase):
    def setUp(self):
        self.session = DesktopSession(BIN)
        self.addCleanup(self.session.close)

    def start_velantro(self, contacts=True):
        self.window = self.session.start_velantro()
        if contacts:
            wait_until(quietly(lambda: self.window.list_items("To")), 15, "the contacts")

    def assert_running(self):
        self.assertIsNone(self.session.velantro.poll(), "velantro ended")

    def expect_error(self, text, timeout=30):
        error = wait_until(quietly(self.window.error_box), timeout,
                           f"an error box saying {text!r}")
        self.assertIn(text.lower(), error.lower())
        self.assertTrue(error.endswith("."), error)
        self.window.dismiss_error_box()
        wait_until(quietly(lambda: self.window.error_box() is None), 5, "the box to close")
        return error

    def wait_for_line(self, caption, line, timeout=15, count=None):
        """Waits for the line on the page, and for count lines in all."""
        @quietly
        def shown():
            lines = self.window.page_lines(caption) or []
            return line in lines and count in (None, len(lines))
        try:
            wait_until(shown, timeout, line)
        except TimeoutError:
            self.fail(f"{caption}'s page ends {(self.window.page_lines(caption) or [])[-3:]},"
                      f" without {line!r}; error box: {self.window.error_box()}")

    def requested_id(self):
        """The id of the message velantro last asked the body of."""
        asked = [line for line in self.session.peer_log() if line.endswith(" BODY")]
        return asked[-1].split()[2]

    def sent_messages(self):
        return [line for line in self.session.peer_log() if line.startswith("MESSAGE ")]

    # --- the chat client ---------------------------------------------------------

    def test_chat_client_lines(self):
        """Lines no chat client should send, each followed by a good message."""
        self.session.start_translator()
        client = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "fake_chat_client.py")],
                                  env=self.session.env, stdin=subprocess.PIPE,
                                  stdout=subprocess.DEVNULL)
        self.session.processes.append(client)
        self.start_velantro()
        noise = random.Random(10)
        cases = [
            ("no NUL", [b"CHATMESSAGE 100 STATUS RECEIVED"], ["alice: Hello 100"]),
            ("empty block", [b""], []),
            ("64 KiB line", [b"CHATMESSAGE 5 STATUS " + b"x" * 65536 + b"\0",
                             b"y" * 65536], []),
            ("random bytes", [noise.randbytes(4096) for _ in range(8)], []),
            ("10,000 notifications",
             [b"CHATMESSAGE %d STATUS SENT\0" % n if n % 2 else b"USERSTATUS ONLINE\0"
              for n in range(10000)], []),
        ]
        for number, (name, blocks, shown) in enumerate(cases, start=200):
            with self.subTest(name):
                started = time.monotonic()
                for block in blocks + [b"CHATMESSAGE %d STATUS RECEIVED\0" % number]:
                    client.stdin.write(block.hex().encode() + b"\n")
                client.stdin.flush()
                for line in shown + [f"alice: Hello {number}"]:
                    self.wait_for_line("alice", line, 60)
                self.assert_running()
                print(f"  {name}: {time.monotonic() - started:.1f} s", file=sys.stderr)
        self.assertEqual(self.window.list_items("To"), ["alice"])

    def start_fake_client(self):
        client = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "fake_chat_client.py")],
                                  env=self.session.env, stdin=subprocess.PIPE,
                                  stdout=subprocess.DEVNULL)
        self.session.processes.append(client)
        return client

    def test_chat_client_flood(self):
        """RECEIVED notifications sent without waiting, as fast as the bus
        takes them: each message is shown once and the program lives."""
        count = int(os.environ.get("VELANTRO_FLOOD_COUNT", "3000"))
        self.session.start_translator()
        client = self.start_fake_client()
        self.start_velantro()
        started = time.monotonic()
        client.stdin.write(b"".join((b"CHATMESSAGE %d STATUS RECEIVED\0" % n).hex().encode()
                                    + b"\n" for n in range(count)))
        client.stdin.flush()
        wait_until(quietly(lambda: len(self.window.page_lines("alice") or []) >= count),
                   max(120, count // 20), f"{count} entries")
        took = time.monotonic() - started
        time.sleep(1)
        lines = self.window.page_lines("alice")
        self.assertEqual(sorted(lines), sorted(f"alice: Hello {n}" for n in range(count)))
        self.assert_running()
        memory = read_memory_kib(self.session.velantro.pid)
        later = sum(1 for a, b in zip(lines, lines[1:])
                    if int(a.split()[-1]) > int(b.split()[-1]))
        print(f"  {count} notifications: all shown in {took:.1f} s, {later} after a later one;"
              f" velantro's peak memory {memory} KiB", file=sys.stderr)

    def test_false_sender(self):
        """Another program on the bus speaks for the chat client: refused."""
        from gi.repository import Gio, GLib
        self.session.start_translator()
        client = self.start_fake_client()
        self.start_velantro()
        bus = Gio.bus_get_sync(Gio.BusType.SESSION)

        def daemon(method, args, reply):
            return bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                 "org.freedesktop.DBus", method, args, GLib.VariantType(reply),
                                 Gio.DBusCallFlags.NONE, 2000, None)[0]

        windows = {}
        for name in daemon("ListNames", None, "(as)"):
            if name.startswith("org.velantro.Window.H"):
                pid = daemon("GetConnectionUnixProcessID", GLib.Variant("(s)", (name,)), "(u)")
                windows[pid] = int(name[len("org.velantro.Window.H"):])
        own = windows[self.session.velantro.pid]
        chat_client = windows[client.pid]

        def call(method, args):
            try:
                return bus.call_sync(f"org.velantro.Window.H{own}", f"/org/velantro/Window/{own}",
                                     "org.velantro.Window", method, args,
                                     GLib.VariantType("(x)"), Gio.DBusCallFlags.NONE, 5000,
                                     None)[0]
            except GLib.Error as error:
                return error.message

        attach = message_id("SkypeControlAPIAttach")
        cases = [
            ("a line claiming the chat client's window", "CopyData",
             GLib.Variant("(ttay)", (chat_client, 0, b"CHATMESSAGE 7 BODY forged\0"))),
            ("a line claiming velantro's own window", "CopyData",
             GLib.Variant("(ttay)", (own, 0, b"CHATMESSAGE 7 FROM_HANDLE mallory\0"))),
            ("an attach success naming velantro's own window", "Send",
             GLib.Variant("(utx)", (attach, own, 0))),
        ]
        for name, method, args in cases:
            with self.subTest(name):
                answer = call(method, args)
                if method == "CopyData":
                    self.assertIn("does not own", str(answer))
                else:
                    self.assertEqual(answer, 0)
        # The chat client is still the one heard, and its message is its own.
        client.stdin.write((b"CHATMESSAGE 7 STATUS RECEIVED\0".hex() + "\n").encode())
        client.stdin.flush()
        self.wait_for_line("alice", "alice: Hello 7")
        self.assertEqual(self.window.page_lines("alice"), ["alice: Hello 7"])
        self.assertIsNone(self.window.page_lines("mallory"))
        self.assert_running()

    def test_chat_client_killed_and_stopped(self):
        self.session.start_translator()
        self.session.start_peer()
        self.start_velantro()

        # Killed with half a message queued, and started again.
        self.session.peer_says("raw CHATMESSAGE 950 FROM_HANDLE bob")
        self.session.peer_says("alice: Hola")
        self.wait_for_line("alice", "alice: Hello")
        self.session.peer.kill()
        self.session.peer.wait()
        self.session.start_peer(friends="dave,bob", user="maria.k")
        # The friends first; a partner with a page who is no friend comes after them.
        wait_until(quietly(lambda: self.window.list_items("To")[:2] == ["bob", "dave"]), 15,
                   "the contacts after the restart")
        wait_until(lambda: self.window.caption().endswith(" - maria.k"), 5, "the handle again")
        # The client started again numbers on: its first message is no
        # number that an earlier message was shown under.
        self.session.peer_says("dave: Gracias")
        self.wait_for_line("dave", "dave: Thanks")
        self.session.peer_says("raw CHATMESSAGE 950 BODY Gracias")
        self.wait_for_line("bob", "bob: Thanks")

        # Stopped while it takes a message: the send gives up after its
        # time-out and says so; the text stays for another try. The bus
        # still holds the call: the client, woken, sends it late, and then
        # bob's page shows it as sent. Written on bob's page, to bob.
        self.window.choose("To", "bob")
        self.window.type_message("Hello")
        self.session.peer.send_signal(signal.SIGSTOP)
        started = time.monotonic()
        self.window.press_send()
        self.expect_error("did not take it, or did not answer in time", SEND_TIMEOUT + 30)
        waited = time.monotonic() - started
        self.assertGreater(waited, SEND_TIMEOUT - 1, self.session.peer_log()[-4:])
        self.assertEqual(self.window.message_text(), "Hello")
        self.assertEqual(self.window.page_lines("bob"), ["bob: Thanks"])
        print(f"  stopped client: the send returned after {waited:.1f} s", file=sys.stderr)
        self.session.peer.send_signal(signal.SIGCONT)
        wait_until(self.sent_messages, 10, "the message at the client")
        self.assertEqual(self.sent_messages(), ["MESSAGE bob Hello - Translated with Velantro"])
        wait_until(lambda: len(self.window.page_lines("bob")) == 2, 10, "the late send's entry")
        self.assertEqual(self.window.page_lines("bob"), ["bob: Thanks", "maria.k: Hello (Hello)"])
        self.assertEqual(self.window.message_text(), "Hello")
        self.session.peer_says("dave: Hola")
        self.wait_for_line("dave", "dave: Hello")
        self.assert_running()

    def test_bodies_never_announced_neither_delay_nor_grow(self):
        """60,000 BODY lines for ids never announced as received, then a real
        message: it comes as soon as the same number of lines Velantro ignores
        would let it, and the memory stays bounded."""
        self.session.start_translator()
        self.session.start_peer()
        self.start_velantro()
        self.session.peer_says("alice: Hola")
        self.wait_for_line("alice", "alice: Hello")
        before = resident_kib(self.session.velantro.pid)

        def flood_then_message(line, sender):
            started = time.monotonic()
            self.session.peer.stdin.write("".join(
                f"raw CHATMESSAGE {n} {line} {n}\n" for n in range(100000, 160000)).encode())
            self.session.peer_says(f"{sender}: Hola")
            self.wait_for_line(sender, f"{sender}: Hello", 400)
            return time.monotonic() - started

        # What the bus and skype-peer take for 60,000 lines, each one call.
        ignored = flood_then_message("STATUS SENT", "bob")
        bodies = flood_then_message("BODY never announced", "Carol")
        after = resident_kib(self.session.velantro.pid)
        print(f"  60,000 lines and a message: ignored lines {ignored:.1f} s, bodies"
              f" {bodies:.1f} s; resident {before // 1024} -> {after // 1024} MiB",
              file=sys.stderr)
        self.assertLess(bodies, ignored * 1.5 + 10)
        # AddressSanitizer keeps freed memory in quarantine (256 MiB) and
        # adds its own shadow: there the resident size says nothing of ours.
        if not sanitized(self.session.velantro.pid):
            self.assertLess(after - before, 6 * 1024)
        self.assert_running()

    # --- the translation service -----------------------------------------------

    def test_translation_service_faults(self):
        service = FakeService(self.session.port)
        self.addCleanup(service.close)
        service.listen(reply_ok)
        self.session.start_peer()
        self.start_velantro()
        # (case, reply, what the box says, longest wait, outgoing text tried too)
        cases = [
            ("refused", None, "connect", 30, True),
            ("reset mid-reply", reply_reset, "reset", 30, True),
            ("500", reply_status(b"500 Internal Server Error"), "500", 30, True),
            ("302", reply_status(b"302 Found\r\nLocation: http://127.0.0.1:1/"), "302", 30, True),
            ("garbage", reply_garbage, "HTTP/0.9", 30, True),
            ("over the cap", reply_oversize, "16 MiB", 60, True),
            ("never answering", reply_silence, "No reply", IDLE_TIMEOUT + 30, False),
            ("slow drip", reply_drip, "within", EXCHANGE_DEADLINE + 30, False),
        ]
        lines = 0
        for name, reply, says, timeout, outgoing in cases:
            with self.subTest(name):
                if reply is None:
                    service.refuse()
                else:
                    service.listen(reply)
                started = time.monotonic()
                self.session.peer_says("bob: Hola")
                # No box for a message that comes in: its entry is marked and
                # the status line counts it.
                lines += 1
                self.wait_for_line("bob", "bob: Hola [not translated]", timeout, count=lines)
                status = self.window.status_line()
                print(f"  {name}: {time.monotonic() - started:.1f} s: {status!r}", file=sys.stderr)
                self.assertIn("not answering", status)
                self.assertIsNone(self.window.error_box())
                message_id = self.requested_id()
                if outgoing:
                    self.window.type_message(f"Hello {name}")
                    self.window.press_send()
                    self.expect_error(says, timeout)
                    self.assertEqual(self.window.message_text(), f"Hello {name}")
                    self.assertEqual(self.sent_messages(), [])
                service.listen(reply_ok)
                self.session.peer_says(f"raw CHATMESSAGE {message_id} BODY Hola")
                # Translated in its place: the entry is replaced, none added.
                # Earlier entries read "bob: Hello" already: wait for all of them.
                wait_until(quietly(lambda: self.window.page_lines("bob") == ["bob: Hello"] * lines),
                           15, "every entry translated")
                self.assert_running()

    def test_sigterm_during_a_translation_writes_the_settings(self):
        service = FakeService(self.session.port)
        self.addCleanup(service.close)
        service.listen(reply_ok)
        self.session.start_peer()
        self.start_velantro()
        self.window.choose("Receive in:", "Francais")
        service.listen(reply_late)
        self.session.peer_says("bob: Hola")
        wait_until(lambda: service.requests >= 1, 10, "the translation request")
        self.session.velantro.send_signal(signal.SIGTERM)
        self.assertEqual(self.session.velantro.wait(IDLE_TIMEOUT), 0)
        with open(self.session.path("config/velantro.ini")) as settings:
            self.assertIn("Receive=2\n", settings.read())

    # --- files -----------------------------------------------------------------

    def test_bad_interface_files(self):
        self.session.start_translator()
        self.session.start_peer()
        # The labels' texts packed as the build packs them; the damage below
        # falls where it does in these bytes, whatever the shipped file holds.
        source = self.session.path("labels.txt")
        with open(source, "w", encoding="utf-8") as text:
            text.write(LABEL_TEXTS)
        subprocess.run([os.path.join(BIN, "velantro-cli"), "pack", source,
                        self.session.path("labels.dat")], check=True,
                       stdout=subprocess.DEVNULL)
        with open(self.session.path("labels.dat"), "rb") as packed:
            good = packed.read()
        damaged = bytearray(good)
        for at in range(len(good) // 3, len(good) // 3 + 40):
            damaged[at] ^= 0x5A
        # Each case with the start of its error box; None for none.
        cases = [
            ("truncated", good[:len(good) // 2], "LoadTranslations:"),
            ("corrupted", bytes(damaged), "LoadTranslations:"),
            ("empty", b"", None),
            ("negative count", masked((-5).to_bytes(4, "little", signed=True) +
                                      b'MainForm.l_in;1;"in"\r\n'), None),
            ("100 MB", None, "LoadTranslations:Interface text over the limit of 16 MiB"),
        ]
        for name, content, expected_error in cases:
            with self.subTest(name):
                path = self.session.path("vlintf.dat")
                if content is None:
                    write_huge_interface_file(path, 100 * 1024 * 1024)
                else:
                    with open(path, "wb") as file:
                        file.write(content)
                started = time.monotonic()
                self.start_velantro(contacts=False)
                shown = quietly(lambda: self.window.label_texts() or self.window.error_box())
                wait_until(shown, 60, "the window")
                if expected_error is None:
                    error = self.window.error_box()
                    self.assertIsNone(error)
                else:
                    error = wait_until(quietly(self.window.error_box), 60, "the error box")
                    self.assertTrue(error.startswith(expected_error), error)
                    self.window.dismiss_error_box()
                print(f"  {name}: {time.monotonic() - started:.1f} s: {error!r}", file=sys.stderr)
                self.assertIn("in", self.window.label_texts())
                # A load error skips the attach; the client's restart brings it.
                self.session.stop(self.session.peer)
                self.session.start_peer()
                wait_until(quietly(lambda: self.window.list_items("To")), 15, "the contacts")
                self.session.peer_says("alice: Hola")
                self.wait_for_line("alice", "alice: Hello")
                self.assert_running()
                self.session.velantro.kill()
                self.session.velantro.wait()

    def test_settings_file_faults(self):
        config = self.session.path("config")
        settings = os.path.join(config, "velantro.ini")

        def corrupt():
            os.makedirs(config)
            with open(settings, "wb") as file:
                file.write(random.Random(3).randbytes(3000))

        def unwritable():
            mount(config, "size=1m")
            write(settings, SETTINGS)
            subprocess.run(["mount", "-o", "remount,ro", config], check=True)

        def folder():
            os.makedirs(settings)
            write(os.path.join(settings, "keep"), b"kept")

        def full_disk():
            mount(config, "size=64k")
            write(settings, SETTINGS)
            try:
                with open(os.path.join(config, "filler"), "wb") as filler:
                    while True:
                        filler.write(b"\0" * 4096)
                        filler.flush()
            except OSError:
                pass

        # Each case: the user's close either writes the settings after every
        # byte already there, or shows the box while the window stays and
        # answers and the file is as it was.
        cases = [("corrupt", corrupt, True), ("unwritable", unwritable, False),
                 ("a folder", folder, False), ("full disk", full_disk, False)]
        for name, prepare, writable in cases:
            with self.subTest(name):
                if name in ("unwritable", "full disk") and not can_mount():
                    self.skipTest("needs root and tmpfs mounts")
                try:
                    prepare()
                    before = snapshot(settings)
                    self.start_velantro(contacts=False)
                    self.session.close_window()
                    if writable:
                        self.assertEqual(self.session.velantro.wait(30), 0)
                        after = snapshot(settings)
                        self.assertEqual(after[:len(before)], before)
                        self.assertIn(b"[General]", after[len(before):])
                        self.assertIn(b"Receive=0", after[len(before):])
                        continue
                    self.expect_error("Unable to write to " + settings)
                    self.window.type_message("still here")
                    self.assertEqual(self.window.message_text(), "still here")
                    self.assert_running()
                    self.assertEqual(snapshot(settings), before)
                finally:
                    if self.session.velantro is not None:
                        self.session.velantro.kill()
                        self.session.velantro.wait()
                    if os.path.ismount(config):
                        subprocess.run(["umount", config], check=True)
                    shutil.rmtree(config, ignore_errors=True)


# --- the translation service's replies ----------------------------------------


class FakeService:
    """A translation service on one port whose replies change from case to case."""

    def __init__(self, port):
        self.port = port
        self.listener = None
        self.reply = None
        self.requests = 0
        self.held = []

    def listen(self, reply):
        self.release()
        self.reply = reply
        if self.listener is None:
            self.listener = socket.create_server(("127.0.0.1", self.port))
            threading.Thread(target=self._serve, args=(self.listener,), daemon=True).start()

    def refuse(self):
        self.release()
        if self.listener is not None:
            self.listener.shutdown(socket.SHUT_RDWR)
            self.listener.close()
            self.listener = None

    def release(self):
        for connection in self.held:
            connection.close()
        self.held = []

    def close(self):
        self.refuse()

    def _serve(self, listener):
        while True:
            try:
                connection, _ = listener.accept()
            except OSError:
                return
            self.held.append(connection)
            threading.Thread(target=self._answer, args=(connection, self.reply),
                             daemon=True).start()

    def _answer(self, connection, reply):
        try:
            request = b""
            while b"\r\n\r\n" not in request:
                request += connection.recv(65536)
            head, body = request.split(b"\r\n\r\n", 1)
            length = int(head.lower().split(b"content-length:")[1].split(b"\r\n")[0])
            while len(body) < length:
                body += connection.recv(65536)
            self.requests += 1
            reply(connection)
        except (OSError, ValueError, IndexError):
            pass


def reply_ok(connection):
    connection.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nl1=Hello&")
    connection.close()


def reply_late(connection):
    time.sleep(5)
    reply_ok(connection)


def reply_reset(connection):
    connection.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nl1=He")
    time.sleep(0.2)
    connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\1\0\0\0\0\0\0\0")
    connection.close()


def reply_status(status):
    def reply(connection):
        connection.sendall(b"HTTP/1.0 " + status + b"\r\nContent-Length: 0\r\n\r\n")
        connection.close()
    return reply


def reply_garbage(connection):
    connection.sendall(random.Random(5).randbytes(2048))
    connection.close()


def reply_oversize(connection):
    connection.sendall(b"HTTP/1.0 200 OK\r\n\r\nl1=")
    chunk = b"a" * 65536
    for _ in range(17 * 16):
        connection.sendall(chunk)
    connection.close()


def reply_silence(connection):
    """Reads the request and never answers (the connection stays open)."""


def reply_drip(connection):
    connection.sendall(b"HTTP/1.0 200 OK\r\n\r\nl1=")
    while True:
        connection.sendall(b"a")
        time.sleep(1)


# --- files -----------------------------------------------------------------------


def mask(position):
    product = (position * 618053) & 0xFFFFFFFF
    if product >= 0x80000000:
        return -((0x100000000 - product) % 271829) & 0xFF
    return product % 271829 & 0xFF


LABEL_TEXTS = """MainForm.l_Translate_To;1;"Receive in:"
MainForm.l_Translate_To;5;"Recibir en:"
MainForm.l_Translate_To;6;"Recevoir en :"
MainForm.l_Translate_To;2;"Получавай на:"
MainForm.l_Send_To;1;"To"
MainForm.l_Send_To;5;"Para"
MainForm.l_Send_To;6;"Pour"
MainForm.l_Send_To;2;"До"
MainForm.l_in;1;"in"
MainForm.l_in;5;"en"
MainForm.l_in;6;"en"
MainForm.l_in;2;"на"
MainForm.btnSend;1;"Send"
MainForm.btnSend;5;"Enviar"
MainForm.btnSend;6;"Envoyer"
MainForm.btnSend;2;"Изпрати"
"""


def masked(data):
    return bytes(byte ^ mask(at) for at, byte in enumerate(data))


def write_huge_interface_file(path, size):
    """A file of size bytes whose gzip member holds as many entries as fit."""
    line = b'MainForm.l_in;1;"in"\r\n'
    text = line * (size // len(line))
    member = gzip.compress(len(text).to_bytes(4, "little") + text, mtime=0)
    with open(path, "wb") as file:
        file.write(masked(member))
        file.truncate(size)


def sanitized(pid):
    """Whether the process runs under AddressSanitizer."""
    with open(f"/proc/{pid}/maps") as maps:
        return any("libasan" in line for line in maps)


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def read_memory_kib(pid):
    """The process's peak resident memory (VmHWM)."""
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return None


def write(path, data):
    with open(path, "wb") as file:
        file.write(data)


def snapshot(path):
    """The bytes of a file, or the names in a folder."""
    if os.path.isdir(path):
        return sorted(os.listdir(path))
    with open(path, "rb") as file:
        return file.read()


def can_mount():
    return os.geteuid() == 0 and shutil.which("mount") is not None


def mount(folder, options):
    os.makedirs(folder)
    subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder], check=True)


if __name__ == "__main__":
    BIN, argv = desktop_session.test_arguments(("pyatspi", "gi", "Xlib"))
    unittest.main(argv=argv, verbosity=2)
