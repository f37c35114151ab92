"""Velantro ends when it is told to: SIGTERM, SIGINT, SIGHUP or a logout end the real program
within about two seconds, after one try to write the settings, whatever it is
doing (settings that cannot be written, an error box open, an exchange with a
service that never answers); the user's close with settings that cannot be
written keeps the window open and says why."""

import os
import shutil
import signal
import stat
import subprocess
import sys
import time
import unittest

import desktop_session
from desktop_session import DesktopSession, wait_until
from velantro_faults_test import (FakeService, can_mount, mount, quietly,
                                  reply_silence, write)

BIN = None
# How soon a stop signal must have ended the program. The goal is two seconds
# (a hanging exchange is abandoned at its next progress check, at most a
# second apart); the rest is room for a machine busy with other work, where
# starting the test's own clock and reaping the process can take seconds.
STOP_WITHIN = 5.0


class EndingTest(unittest.TestCase):
    def setUp(self):
        self.session = DesktopSession(BIN)
        self.addCleanup(self.session.close)
        self.config = self.session.path("config")
        self.settings = os.path.join(self.config, "velantro.ini")

    def start(self):
        self.window = self.session.start_velantro()
        wait_until(quietly(lambda: self.window.list_items("To")), 15, "the contacts")

    def stop_with(self, signal_number):
        """Sends the signal; gives the exit status, checks how long the end
        took and keeps the program's peak memory in self.peak_kib."""
        started = time.monotonic()
        process = self.session.velantro
        process.send_signal(signal_number)
        while True:
            pid, wait_status, usage = os.wait4(process.pid, os.WNOHANG)
            if pid != 0:
                break
            if time.monotonic() - started > 30:
                self.fail("velantro did not end within 30 s")
            time.sleep(0.01)
        took = time.monotonic() - started
        status = process.returncode = os.waitstatus_to_exitcode(wait_status)
        self.peak_kib = usage.ru_maxrss
        print(f"  ended in {took:.2f} s with status {status}, peak memory "
              f"{self.peak_kib // 1024} MiB", file=sys.stderr)
        self.assertLess(took, STOP_WITHIN)
        return status

    def errors(self):
        with open(self.session.path("velantro.err"), "rb") as errors:
            return errors.read().decode("utf-8", "replace")

    def settings_text(self):
        with open(self.settings, "rb") as file:
            return file.read()

    def test_a_stop_signal_ends_whatever_the_program_is_doing(self):
        service = FakeService(self.session.port)
        self.addCleanup(service.close)

        def error_box_open():
            # A send the service refuses opens a box; an incoming message would not.
            service.refuse()
            self.window.type_message("Hola")
            self.window.press_send()
            wait_until(quietly(self.window.error_box), 30, "the error box")

        def hanging_incoming():
            service.listen(reply_silence)
            self.session.peer_says("bob: Hola")
            wait_until(lambda: service.requests >= 1, 15, "the translation request")

        def hanging_outgoing():
            service.listen(reply_silence)
            self.window.type_message("Hello bob")
            self.window.press_send()
            wait_until(lambda: service.requests >= 1, 15, "the translation request")

        # (case, what the program is doing, signal)
        def idle():
            pass

        cases = [("idle, hung up", idle, signal.SIGHUP),
                 ("an error box open", error_box_open, signal.SIGTERM),
                 ("an incoming message's translation hanging", hanging_incoming, signal.SIGTERM),
                 ("an outgoing message's translation hanging", hanging_outgoing, signal.SIGINT)]
        for name, doing, signal_number in cases:
            with self.subTest(name):
                os.makedirs(self.config, exist_ok=True)
                write(self.settings, b"; mine\n[General]\nSend=1\n")
                self.session.start_peer()
                self.start()
                doing()
                self.assertEqual(self.stop_with(signal_number), 0)
                # The settings were written, and nothing was sent.
                self.assertTrue(self.settings_text().startswith(b"; mine\n[General]\nSend=1\n"),
                                self.settings_text())
                self.assertIn(b"Height=", self.settings_text())
                self.assertEqual([line for line in self.session.peer_log()
                                  if line.startswith("MESSAGE ")], [])
                self.session.stop(self.session.peer)

    def test_a_logout_ends_the_run(self):
        """The session manager saves the session for a shutdown, then tells
        the program to die: the settings are tried once, nothing waits."""
        manager_program = os.path.join(BIN, "logout-session-manager")
        if not os.path.exists(manager_program):
            self.skipTest("built without libSM")
        service = FakeService(self.session.port)
        self.addCleanup(service.close)
        service.refuse()
        self.session.start_peer()

        def writable():
            return 0

        def a_folder():
            os.makedirs(self.settings)
            return 1

        for name, prepare, box in [("writable, an error box open", writable, True),
                                   ("a folder where the file should be", a_folder, False)]:
            with self.subTest(name):
                shutil.rmtree(self.config, ignore_errors=True)
                expected_status = prepare()
                manager = subprocess.Popen([manager_program], stdin=subprocess.PIPE,
                                           stdout=subprocess.PIPE, text=True)
                self.addCleanup(end_process, manager)
                self.session.env["SESSION_MANAGER"] = manager.stdout.readline().strip()
                self.start()
                self.assertEqual(manager.stdout.readline().strip(), "registered")
                if box:
                    self.window.type_message("Hola")
                    self.window.press_send()
                    wait_until(quietly(self.window.error_box), 30, "the error box")
                started = time.monotonic()
                manager.stdin.write("logout\n")
                manager.stdin.flush()
                steps = [manager.stdout.readline().strip() for _ in range(3)]
                self.assertEqual(steps, ["saved", "die", "gone"])
                status = self.session.velantro.wait(30)
                took = time.monotonic() - started
                print(f"  ended in {took:.2f} s with status {status}", file=sys.stderr)
                self.assertLess(took, STOP_WITHIN)
                self.assertEqual(status, expected_status)
                if expected_status == 0:
                    self.assertIn(b"Height=", self.settings_text())
                else:
                    self.assertIn("velantro: Unable to write to", self.errors())
                manager.wait(10)

    def test_settings_that_cannot_be_written(self):
        def a_folder():
            os.makedirs(self.settings)
            return "Is a directory"

        def read_only():
            mount(self.config, "size=1m")
            write(self.settings, b"[General]\nSend=2\n")
            subprocess.run(["mount", "-o", "remount,ro", self.config], check=True)
            self.addCleanup(subprocess.run, ["umount", self.config], check=True)
            return "Read-only file system"

        def a_fifo():
            os.makedirs(self.config)
            os.mkfifo(self.settings)
            return "it is not a regular file"

        # The mount stays until the test ends: it comes last.
        cases = [("a folder where the file should be", a_folder),
                 ("a FIFO where the file should be", a_fifo),
                 ("a read-only file system", read_only)]
        self.session.start_translator()
        self.session.start_peer()
        for name, prepare in cases:
            with self.subTest(name):
                if name == "a read-only file system" and not can_mount():
                    self.skipTest("needs root and tmpfs mounts")
                shutil.rmtree(self.config, ignore_errors=True)
                reason = prepare()
                expected = f"Unable to write to {self.settings}: {reason}"
                self.start()
                # The user's close: the box says why, and the window stays.
                self.session.close_window()
                error = wait_until(quietly(self.window.error_box), 30, "the error box")
                self.assertEqual(error, expected + ".")
                self.window.dismiss_error_box()
                wait_until(quietly(lambda: self.window.error_box() is None), 10, "no box")
                self.window.type_message("still here")
                self.assertIsNone(self.session.velantro.poll())
                # A stop signal: one try, the error on stderr, status 1.
                self.assertEqual(self.stop_with(signal.SIGTERM), 1)
                self.assertEqual(self.errors().strip().splitlines()[-1], f"velantro: {expected}")
                self.assertEqual(os.path.isdir(self.settings), name.startswith("a folder"))
                self.assertEqual(stat.S_ISFIFO(os.stat(self.settings).st_mode),
                                 name.startswith("a FIFO"))

    def test_a_huge_settings_file_costs_one_reading_and_one_writing(self):
        """300 MB of comments after the settings: read once at the start,
        rewritten once at the end, within the stop's time and in memory about
        the file's size."""
        size = 300 * 1024 * 1024
        os.makedirs(self.config)
        head = b"; mine\n[General]\nSend=1\n"
        block = (b"; " + b"x" * 61 + b"\n") * 16384
        with open(self.settings, "wb") as file:
            file.write(head)
            for _ in range(size // len(block)):
                file.write(block)
        self.session.start_translator()
        self.session.start_peer()
        self.start()
        self.assertEqual(self.stop_with(signal.SIGTERM), 0)
        self.assertLess(self.peak_kib * 1024, 2 * size)
        with open(self.settings, "rb") as file:
            self.assertEqual(file.read(len(head)), head)
            self.assertIn(b"Height=", file.read(200))
        self.assertGreater(os.path.getsize(self.settings), size)


def end_process(process):
    process.kill()
    process.wait()
    process.stdin.close()
    process.stdout.close()


if __name__ == "__main__":
    BIN, argv = desktop_session.test_arguments(("pyatspi", "gi", "Xlib"))
    unittest.main(argv=argv, verbosity=2)
