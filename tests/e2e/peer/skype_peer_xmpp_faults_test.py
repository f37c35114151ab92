"""skype-peer --xmpp against XMPP servers of the test's own on 127.0.0.1 that
accept the connection and then stall: at once, after opening their stream,
or in the TLS handshake. Each sign-in is given up at the limit (30 s), said
on stderr with where it stalled, and tried again after the back-off. Also:
the password from the environment is gone from /proc/PID/environ.

    dbus-run-session -- /usr/bin/python3 skype_peer_xmpp_faults_test.py build/bin
"""

import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

BIN = None
LIMIT = 30
PASSWORD = "env-secret-5d1c"

STREAM_HEADER = (b"<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
                 b"xmlns:stream='http://etherx.jabber.org/streams' id='stall' "
                 b"from='localhost' version='1.0'>")
STARTTLS = (b"<stream:features><starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'>"
            b"<required/></starttls></stream:features>")
PROCEED = b"<proceed xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>"


class StallingServer:
    """Accepts connections on a port of its own and stalls each one at the
    same point: "silent" says nothing, "header" opens its stream and stops,
    "tls" lets STARTTLS begin and never answers the TLS handshake. Notes when
    each connection came."""

    def __init__(self, stall):
        self.stall = stall
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.connections = []
        self.arrivals = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.arrivals.append(time.monotonic())
            self.connections.append(connection)
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection):
        try:
            if self.stall != "silent":
                connection.recv(4096)                  # the client's stream header
                connection.sendall(STREAM_HEADER)
            if self.stall == "tls":
                connection.sendall(STARTTLS)
                connection.recv(4096)                  # <starttls/>
                connection.sendall(PROCEED)
            while connection.recv(4096):               # the ClientHello, or anything: unanswered
                pass
        except OSError:
            pass

    def close(self):
        self.listener.close()
        for connection in self.connections:
            connection.close()


class StalledServerTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="skype-peer-faults-")
        self.peers = []

    def tearDown(self):
        for peer in self.peers:
            if peer.poll() is None:
                peer.kill()
            peer.wait()

    def start_peer(self, name, port):
        out = open(os.path.join(self.folder, name + ".out"), "wb")
        err = open(os.path.join(self.folder, name + ".err"), "wb")
        env = dict(os.environ, SKYPE_PEER_XMPP_PASSWORD=PASSWORD, SKYPE_PEER_TEST_MARK="kept")
        peer = subprocess.Popen(
            [os.path.join(BIN, "skype-peer"), "--xmpp", "alice@localhost",
             "--xmpp-server", f"127.0.0.1:{port}", "--title", name],
            env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        out.close()
        err.close()
        self.peers.append(peer)
        return peer

    def read(self, name, kind):
        with open(os.path.join(self.folder, f"{name}.{kind}"), "rb") as file:
            return file.read().decode("utf-8", "replace")

    def wait_for(self, condition, timeout, what):
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > deadline:
                self.fail(f"no {what} within {timeout} s")
            time.sleep(0.1)

    def test_a_stalled_sign_in_is_given_up_at_the_limit_said_and_tried_again(self):
        # What is said, and when: libstrophe gives up waiting for the stream's
        # features after 15 s of its own, before the sign-in's limit.
        stages = {
            "silent": ("the server accepted the connection but never opened its XMPP stream"
                       f" (no sign-in within {LIMIT} s)", LIMIT),
            "header": ("the server opened its XMPP stream, then stalled (no answer within 15 s)",
                       15),
            "tls": (f"the server stalled the TLS handshake (no sign-in within {LIMIT} s)", LIMIT),
        }
        servers = {stall: StallingServer(stall) for stall in stages}
        for server in servers.values():
            self.addCleanup(server.close)
        for stall, server in servers.items():
            self.start_peer(stall, server.port)

        # When each report came, watched side by side.
        reported = {}
        deadline = time.monotonic() + LIMIT + 15
        while len(reported) < len(stages) and time.monotonic() < deadline:
            for stall in stages:
                if stall not in reported and self.read(stall, "err").strip():
                    reported[stall] = time.monotonic()
            time.sleep(0.1)
        for stall, (stage, limit) in stages.items():
            server = servers[stall]
            self.assertIn(stall, reported, f"no report from the peer at the {stall!r} server")
            # The first report; a shorter stall may have had its second by now.
            self.assertEqual(self.read(stall, "err").splitlines()[0],
                             f"skype-peer: XMPP: cannot sign in: {stage}; next attempt in 1 s")
            waited = reported[stall] - server.arrivals[0]
            print(f"{stall}: given up {waited:.1f} s after the connection", file=sys.stderr)
            self.assertGreaterEqual(waited, limit - 0.5)
            self.assertLess(waited, limit + 5)
            # The usual back-off: the next attempt a second later.
            self.wait_for(lambda: len(server.arrivals) >= 2, 5, f"second attempt ({stall})")
            self.assertGreaterEqual(server.arrivals[1] - server.arrivals[0], limit + 0.5)

        for peer in self.peers:
            self.assertIsNone(peer.poll())

    def test_the_password_from_the_environment_is_gone_from_its_environ(self):
        server = StallingServer("silent")
        self.addCleanup(server.close)
        peer = self.start_peer("environ", server.port)
        self.wait_for(lambda: "connecting to" in self.read("environ", "out"), 20,
                      "connection attempt")
        with open(f"/proc/{peer.pid}/environ", "rb") as file:
            environ = file.read()
        self.assertIn(b"SKYPE_PEER_TEST_MARK=kept", environ, "the block the process started with")
        self.assertNotIn(PASSWORD.encode(), environ)
        self.assertNotIn(b"SKYPE_PEER_XMPP_PASSWORD", environ)
        self.assertIsNone(peer.poll())


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: skype_peer_xmpp_faults_test.py BIN_DIR [unittest arguments]")
    BIN = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], *sys.argv[2:]], verbosity=2)
