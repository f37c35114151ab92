"""A throw-away desktop for one velantro: a virtual display (Xvfb), the
chat-client stand-in and the translator stand-in, each in a temporary folder,
on the private session bus the caller runs on (dbus-run-session)."""

import atexit
import argparse
import importlib.util
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time



def _own_accessibility_bus():
    """at-spi's bus launcher puts the accessibility bus's socket in the user's
    runtime folder (~/.cache without XDG_RUNTIME_DIR), the same path for every
    session bus of the user: two test runs at once would meet on one
    accessibility bus. This run's session bus starts it in a folder of its own."""
    from gi.repository import Gio, GLib
    folder = tempfile.mkdtemp(prefix="velantro-a11y-")
    atexit.register(shutil.rmtree, folder, True)
    os.environ["XDG_RUNTIME_DIR"] = folder
    Gio.bus_get_sync(Gio.BusType.SESSION).call_sync(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "UpdateActivationEnvironment", GLib.Variant("(a{ss})", ({"XDG_RUNTIME_DIR": folder},)),
        None, Gio.DBusCallFlags.NONE, 2000, None)


_own_accessibility_bus()
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "scripts"))
from screen_reader import VelantroWindow, wait_until  # noqa: E402
from virtual_display import start_display  # noqa: E402


def quietly(read):
    """A reading of the window, or None while the tree changes under it."""
    def attempt():
        try:
            return read()
        except Exception:  # an object gone between listing and reading
            return None
    return attempt


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, timeout=10.0):
    def listening():
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return True
        except OSError:
            return False
    wait_until(listening, timeout, f"a listener on port {port}")


class DesktopSession:
    def __init__(self, bin_dir):
        self.bin = bin_dir
        self.folder = tempfile.mkdtemp(prefix="velantro-e2e-")
        self.processes = []
        xvfb, self.display = start_display()
        self.processes.append(xvfb)
        self.port = free_port()
        self.env = dict(os.environ,
                        DISPLAY=self.display,
                        QT_QPA_PLATFORM="xcb",
                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                        XDG_CONFIG_HOME=os.path.join(self.folder, "config"),
                        XDG_STATE_HOME=os.path.join(self.folder, "state"),
                        XDG_RUNTIME_DIR=self.folder,
                        VELANTRO_WEB_ENDPOINT=f"http://127.0.0.1:{self.port}/vl.asp")
        self.translator = None
        self.peer = None
        self.velantro = None

    def path(self, name):
        return os.path.join(self.folder, name)

    def _start(self, args, **kwargs):
        process = subprocess.Popen(args, env=self.env, cwd=self.folder, **kwargs)
        self.processes.append(process)
        return process

    def start_translator(self, *engine):
        self.translator = self._start(
            [os.path.join(self.bin, "translator"), "--web", "--port", str(self.port),
             "--log", self.path("translator.log"), *engine], stderr=subprocess.DEVNULL)
        wait_for_port(self.port)

    def stop(self, process):
        if process is not None and process.poll() is None:
            process.terminate()
            process.wait(10)

    def start_peer(self, friends="alice,bob,Carol,echo", user="maria"):
        self.peer = self._start(
            [os.path.join(self.bin, "skype-peer"), "--quiet", "--log", self.path("peer.log"),
             "--friends", friends, "--user", user],
            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)

    def peer_says(self, line):
        """A line typed at skype-peer's console ("alice: hola", "raw LINE")."""
        self.peer.stdin.write((line + "\n").encode())
        self.peer.stdin.flush()

    def peer_log(self):
        try:
            with open(self.path("peer.log"), "rb") as log:
                return log.read().decode("utf-8", "replace").splitlines()
        except FileNotFoundError:
            return []

    def translator_log(self):
        try:
            with open(self.path("translator.log"), "rb") as log:
                return log.read()
        except FileNotFoundError:
            return b""

    def start_velantro(self, *args):
        with open(self.path("velantro.err"), "wb") as errors:
            self.velantro = self._start([os.path.join(self.bin, "velantro"), *args],
                                        stderr=errors)
        return VelantroWindow(self.velantro.pid, self.display)

    def focus_velantro(self, window):
        """Gives velantro's window the keyboard focus, as a click on it would."""
        import pyatspi
        windows = subprocess.run(["xdotool", "search", "--pid", str(self.velantro.pid)],
                                 env=self.env, capture_output=True, text=True,
                                 check=False).stdout.split()
        for found in windows:
            subprocess.run(["xdotool", "windowfocus", "--sync", found], env=self.env,
                           check=False)
        wait_until(quietly(lambda: window._frame().getState().contains(pyatspi.STATE_ACTIVE)),
                   5, "velantro active")

    def close_window(self):
        """The user's close of velantro's window: the message a window
        manager sends when the title bar's close button is pressed."""
        from Xlib import X, display as xdisplay, protocol
        env = dict(os.environ, DISPLAY=self.display)
        found = subprocess.run(["xdotool", "search", "--pid", str(self.velantro.pid), "--name",
                                "^Velantro"], env=env, capture_output=True, text=True,
                               check=False).stdout.split()
        screen = xdisplay.Display(self.display)
        try:
            protocols = screen.intern_atom("WM_PROTOCOLS")
            delete = screen.intern_atom("WM_DELETE_WINDOW")
            for number in found:
                window = screen.create_resource_object("window", int(number))
                if delete in (window.get_wm_protocols() or []):
                    window.send_event(protocol.event.ClientMessage(
                        window=window, client_type=protocols,
                        data=(32, [delete, X.CurrentTime, 0, 0, 0])), event_mask=X.NoEventMask)
            screen.flush()
        finally:
            screen.close()

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.send_signal(signal.SIGKILL)
                process.wait()
            if process.stdin:
                process.stdin.close()
        shutil.rmtree(self.folder, ignore_errors=True)


def test_arguments(modules=("pyatspi",)):
    """The program folder and unittest's arguments from the command line; ends
    the run as skipped (status 77) when a tool or module the tests need is
    missing."""
    missing = [tool for tool in ("Xvfb", "xdotool") if shutil.which(tool) is None]
    missing += [module for module in modules if importlib.util.find_spec(module) is None]
    if missing:
        print("skipped: missing", ", ".join(missing))
        sys.exit(77)
    parser = argparse.ArgumentParser()
    parser.add_argument("bin")
    arguments, rest = parser.parse_known_args()
    return os.path.abspath(arguments.bin), [sys.argv[0], *rest]
