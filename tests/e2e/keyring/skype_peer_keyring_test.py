"""skype-peer's password in the desktop's keyring: a real Secret Service
(gnome-keyring-daemon, unlocked with a password of the test's, its keyrings
in a folder of the test's) on the private session bus this test runs on,
and a Prosody of the test's own that the peer signs in to. secret-tool
(libsecret) reads the keyring beside the peer, as another program would."""

import os
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "scripts"))
from local_prosody import LocalProsody  # noqa: E402

BIN = None
SERVICE = "velantro-xmpp"
KEYRING_PASSWORD = "keyring-unlock-1"
ALICE_PASSWORD = "alice-keyring-1"


def bus_call(*args, env=None, timeout=10):
    return subprocess.run(["dbus-send", "--session", "--print-reply", *args], env=env,
                          capture_output=True, text=True, timeout=timeout)


class Keyring:
    """gnome-keyring-daemon's Secret Service, unlocked, in the folder given."""

    def __init__(self, env):
        self.env = env
        self.process = None

    def start(self):
        self.process = subprocess.Popen(
            ["gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"],
            env=self.env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        self.process.stdin.write(KEYRING_PASSWORD.encode())
        self.process.stdin.close()
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            owner = bus_call("--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets",
                             env=self.env)
            if "boolean true" in owner.stdout and self.locked() is False:
                return
            time.sleep(0.1)
        raise RuntimeError("gnome-keyring-daemon did not serve an unlocked keyring")

    def locked(self):
        reply = bus_call("--dest=org.freedesktop.secrets", "/org/freedesktop/secrets/aliases/default",
                         "org.freedesktop.DBus.Properties.Get",
                         "string:org.freedesktop.Secret.Collection", "string:Locked",
                         env=self.env)
        if reply.returncode != 0:
            return None
        return "boolean true" in reply.stdout

    def lock(self):
        bus_call("--dest=org.freedesktop.secrets", "/org/freedesktop/secrets",
                 "org.freedesktop.Secret.Service.LockService", env=self.env)

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(20)
        self.process = None

    def lookup(self, jid):
        """The entry as any libsecret program reads it."""
        found = subprocess.run(["secret-tool", "lookup", "user", jid, "server", SERVICE,
                                "type", "plaintext"], env=self.env, capture_output=True,
                               text=True, timeout=20)
        return found.stdout if found.returncode == 0 else None


class SkypePeerKeyringTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="skype-peer-keyring-")
        home = os.path.join(cls.folder, "home")
        runtime = os.path.join(cls.folder, "runtime")
        os.makedirs(home)
        os.makedirs(runtime, mode=0o700)
        # The keyrings live in the test's folder, never in the user's; no
        # display, so an unlock prompt cannot show.
        cls.env = {key: value for key, value in os.environ.items()
                   if key not in ("DISPLAY", "WAYLAND_DISPLAY", "SKYPE_PEER_XMPP_PASSWORD")}
        cls.env.update(HOME=home, XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                       XDG_CONFIG_HOME=os.path.join(home, ".config"), XDG_RUNTIME_DIR=runtime)
        cls.keyring = Keyring(cls.env)
        cls.keyring.start()
        cls.server = LocalProsody(os.path.join(cls.folder, "prosody"))
        cls.alice = cls.server.register("alice", ALICE_PASSWORD)
        cls.server.start()
        cls.server_options = ["--xmpp-server", f"127.0.0.1:{cls.server.port}",
                              "--xmpp-ca", cls.server.ca_file]

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.keyring.stop()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def peer(self, *args, stdin=b"", env=None):
        return subprocess.run([os.path.join(BIN, "skype-peer"), *args], input=stdin,
                              env=env or self.env, capture_output=True, timeout=60)

    def remember(self, password):
        done = self.peer("--xmpp", self.alice, "--remember-password",
                         stdin=(password + "\n").encode())
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(self.keyring.lookup(self.alice), password)

    def remember_on_a_terminal(self, password):
        """Runs --remember-password on a terminal, typing the password at
        both its prompts; gives the exit status and everything the terminal
        showed."""
        main, secondary = pty.openpty()
        process = subprocess.Popen(
            [os.path.join(BIN, "skype-peer"), "--xmpp", self.alice, "--remember-password"],
            stdin=secondary, stdout=secondary, stderr=secondary, env=self.env,
            start_new_session=True)
        os.close(secondary)
        shown = b""

        def read_until(text, timeout=20):
            nonlocal shown
            deadline = time.monotonic() + timeout
            while text.encode() not in shown:
                ready, _, _ = select.select([main], [], [], max(0, deadline - time.monotonic()))
                if not ready:
                    raise TimeoutError(f"no {text!r} on the terminal; it showed {shown!r}")
                try:
                    chunk = os.read(main, 4096)
                except OSError:  # the program ended and closed the terminal
                    chunk = b""
                if not chunk:
                    raise EOFError(f"the terminal closed before {text!r}; it showed {shown!r}")
                shown += chunk

        try:
            # Typed only once asked: echo goes off before the prompt shows.
            read_until("Password of alice@localhost: ")
            os.write(main, (password + "\n").encode())
            read_until("The same again: ")
            os.write(main, (password + "\n").encode())
            status = process.wait(60)
            while True:
                ready, _, _ = select.select([main], [], [], 1)
                chunk = os.read(main, 4096) if ready else b""
                if not chunk:
                    break
                shown += chunk
        except OSError:
            status = process.wait(60)
        finally:
            os.close(main)
        return status, shown.decode("utf-8", "replace")

    def wait_for_sign_in(self, process, timeout=30):
        deadline = time.monotonic() + timeout
        lines = []
        while time.monotonic() < deadline:
            line = process.stdout.readline().decode()
            lines.append(line)
            if line.startswith("xmpp: signed in as"):
                return line
            if not line and process.poll() is not None:
                break
        self.fail(f"not signed in: {lines} {process.stderr.read().decode()}")

    def start_peer(self, *args, env=None):
        process = subprocess.Popen([os.path.join(BIN, "skype-peer"), *args],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=env or self.env)
        self.addCleanup(lambda: (process.poll() is None and process.kill(), process.wait(),
                                 process.stdout.close(), process.stderr.close()))
        return process

    def test_remembered_on_a_terminal_without_echo_the_password_signs_in(self):
        status, shown = self.remember_on_a_terminal(ALICE_PASSWORD)
        self.assertEqual(status, 0, shown)
        self.assertNotIn(ALICE_PASSWORD, shown)
        self.assertIn("is in the desktop's keyring", shown)
        self.assertEqual(self.keyring.lookup(self.alice), ALICE_PASSWORD)

        # No file, no variable: the keyring's password signs in.
        peer = self.start_peer("--xmpp", self.alice, *self.server_options)
        self.assertIn(self.alice, self.wait_for_sign_in(peer))

    def test_the_file_and_the_variable_come_before_the_keyring(self):
        self.remember(ALICE_PASSWORD)
        env = dict(self.env, SKYPE_PEER_XMPP_PASSWORD="not-the-password")
        refused = self.peer("--xmpp", self.alice, *self.server_options, env=env)
        self.assertEqual(refused.returncode, 1, refused.stderr)
        self.assertEqual(refused.stderr.decode().splitlines(),
                         [f"skype-peer: XMPP sign-in failed: the server did not accept the "
                          f"password of {self.alice}"])

        wrong = os.path.join(self.folder, "wrong.password")
        with open(wrong, "w") as file:
            file.write("not-the-password\n")
        refused = self.peer("--xmpp", self.alice, "--xmpp-password-file", wrong,
                            *self.server_options)
        self.assertEqual(refused.returncode, 1, refused.stderr)

        # A wrong password in the keyring: the line says where it came from.
        self.remember("not-the-password")
        refused = self.peer("--xmpp", self.alice, *self.server_options)
        self.assertEqual(refused.returncode, 1, refused.stderr)
        self.assertIn("the password from the desktop's keyring", refused.stderr.decode())

    def test_the_user_units_account_file_names_the_account(self):
        self.remember(ALICE_PASSWORD)
        config = os.path.join(self.env["XDG_CONFIG_HOME"], "velantro", "xmpp.conf")
        os.makedirs(os.path.dirname(config), exist_ok=True)
        shutil.copy(self.server.ca_file, os.path.join(os.path.dirname(config), "ca.pem"))
        with open(config, "w") as file:
            file.write(f"# Velantro's account\njid = {self.alice}\n"
                       f"server = 127.0.0.1:{self.server.port}\nca = ca.pem\n")
        peer = self.start_peer("--xmpp-config", config)
        self.assertIn(self.alice, self.wait_for_sign_in(peer))

    def test_no_entry_is_one_line_that_says_how_to_store_it(self):
        started = time.monotonic()
        done = self.peer("--xmpp", "nobody@localhost", *self.server_options)
        self.assertEqual(done.returncode, 2)
        self.assertLess(time.monotonic() - started, 20)
        self.assertEqual(done.stderr.decode().splitlines(),
                         ["skype-peer: no password for nobody@localhost: the desktop's keyring "
                          "has none, and neither --xmpp-password-file nor "
                          "SKYPE_PEER_XMPP_PASSWORD gives one; store it with: skype-peer "
                          "--xmpp nobody@localhost --remember-password"])

    def test_a_locked_keyring_is_one_line_that_says_so(self):
        self.remember(ALICE_PASSWORD)
        self.keyring.lock()
        self.addCleanup(self.keyring.start)
        self.addCleanup(self.keyring.stop)
        self.assertTrue(self.keyring.locked())
        for args in (["--xmpp", self.alice, *self.server_options],
                     ["--xmpp", self.alice, "--remember-password"]):
            done = self.peer(*args, stdin=b"new-password-1\n")
            lines = done.stderr.decode().splitlines()
            self.assertEqual(done.returncode, 2, lines)
            self.assertEqual(len(lines), 1, lines)
            self.assertIn("the desktop's keyring is locked", lines[0])
            self.assertIn("unlock it", lines[0])

    def test_without_a_keyring_on_the_bus_one_line_says_so(self):
        # A session bus of its own, where nothing serves or can start the
        # Secret Service.
        config = os.path.join(self.folder, "bare-bus.conf")
        with open(config, "w") as file:
            file.write('<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration '
                       '1.0//EN" "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n'
                       f'<busconfig><type>session</type><listen>unix:dir={self.folder}</listen>'
                       '<auth>EXTERNAL</auth><policy context="default">'
                       '<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>'
                       '<allow own="*"/></policy></busconfig>\n')
        bus = subprocess.Popen(["dbus-daemon", "--config-file", config, "--nofork",
                                "--print-address"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(lambda: (bus.terminate(), bus.wait(), bus.stdout.close()))
        env = dict(self.env, DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().strip())
        for args in (["--xmpp", self.alice, *self.server_options],
                     ["--xmpp", self.alice, "--remember-password"]):
            started = time.monotonic()
            done = self.peer(*args, stdin=b"new-password-1\n", env=env)
            self.assertLess(time.monotonic() - started, 20)
            lines = done.stderr.decode().splitlines()
            self.assertEqual(done.returncode, 2, lines)
            self.assertEqual(len(lines), 1, lines)
            self.assertIn("no desktop keyring (Secret Service) answers on the session bus",
                          lines[0])


if __name__ == "__main__":
    BIN = sys.argv[1]
    missing = [tool for tool in ("gnome-keyring-daemon", "secret-tool", "dbus-send",
                                 "dbus-daemon") if not shutil.which(tool)]
    if missing or not LocalProsody.available():
        print(f"skipped: missing {missing or 'prosody, prosodyctl or openssl'}")
        sys.exit(77)
    unittest.main(argv=[sys.argv[0], *sys.argv[2:]], verbosity=2)
