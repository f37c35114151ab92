"""A Prosody XMPP server of its own for the tests and the demo: on 127.0.0.1,
its own port, its configuration and data in a folder of its own, accounts
registered with prosodyctl. No root, no system service."""

import getpass
import json
import os
import queue
import shutil
import socket
import subprocess
import threading
import time

CONTACT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "xmpp_contact.py")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _lua_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class LocalProsody:
    DOMAIN = "localhost"

    def __init__(self, folder, tls=True):
        self.folder = folder
        self.port = free_port()
        self.tls = tls
        self.process = None
        self.config = os.path.join(folder, "prosody.cfg.lua")
        self.ca_file = os.path.join(folder, "certs", "localhost.crt")
        for name in ("data", "certs"):
            os.makedirs(os.path.join(folder, name), exist_ok=True)
        if tls:
            self._make_certificate()
        self._write_config()

    def _make_certificate(self):
        # A self-signed certificate for the domain, which the clients trust
        # through their CA-file options.
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
             "-keyout", os.path.join(self.folder, "certs", "localhost.key"),
             "-out", self.ca_file, "-subj", "/CN=localhost",
             "-addext", "subjectAltName=DNS:localhost"],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _write_config(self):
        user = getpass.getuser()
        ssl = ""
        if self.tls:
            ssl = (f'    ssl = {{ certificate = "{self.ca_file}"; '
                   f'key = "{os.path.join(self.folder, "certs", "localhost.key")}" }}\n')
        with open(self.config, "w") as config:
            config.write(f"""
prosody_user = "{user}"
run_as_root = {"true" if os.geteuid() == 0 else "false"}
pidfile = "{os.path.join(self.folder, "prosody.pid")}"
data_path = "{os.path.join(self.folder, "data")}"
certificates = "{os.path.join(self.folder, "certs")}"
modules_enabled = {{ "roster"; "saslauth"; "tls"; "disco"; "ping"; "posix"; "carbons"; "offline"; "mam" }}
modules_disabled = {{ "s2s" }}
daemonize = false
log = {{ info = "{os.path.join(self.folder, "prosody.log")}" }}
c2s_ports = {{ {self.port} }}
c2s_interfaces = {{ "127.0.0.1" }}
c2s_direct_tls_ports = {{}}
s2s_ports = {{}}
http_ports = {{}}
https_ports = {{}}
component_ports = {{}}
c2s_require_encryption = {"true" if self.tls else "false"}
allow_unencrypted_plain_auth = {"false" if self.tls else "true"}
authentication = "internal_hashed"
storage = "internal"
VirtualHost "{self.DOMAIN}"
{ssl}""")

    def register(self, user, password):
        subprocess.run(["prosodyctl", "--config", self.config, "register", user, self.DOMAIN,
                        password], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return f"{user}@{self.DOMAIN}"

    def write_roster(self, user, items):
        """Replaces user's roster with items (JID -> subscription) in the
        server's storage; the server must be stopped."""
        folder = os.path.join(self.folder, "data", self.DOMAIN, "roster")
        os.makedirs(folder, exist_ok=True)
        lines = ['return {', '\t[false] = { ["pending"] = {}; ["version"] = 1; };']
        for jid, subscription in items.items():
            lines.append(f'\t[{_lua_string(jid)}] = {{ ["subscription"] = '
                         f'{_lua_string(subscription)}; ["groups"] = {{}}; }};')
        lines.append('};')
        with open(os.path.join(folder, f"{user}.dat"), "w") as file:
            file.write("\n".join(lines) + "\n")

    def start(self):
        self.process = subprocess.Popen(["prosody", "--config", self.config, "-F"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                return
            except OSError:
                if self.process.poll() is not None:
                    break
                time.sleep(0.1)
        raise RuntimeError("prosody did not start; see " +
                           os.path.join(self.folder, "prosody.log"))

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(20)
        self.process = None

    @staticmethod
    def available():
        return all(shutil.which(tool) for tool in ("prosody", "prosodyctl", "openssl"))


class Contact:
    """An XMPP account driven by xmpp_contact.py (slixmpp), its events read
    as they come."""

    def __init__(self, server, jid, password, *extra):
        env = dict(os.environ, XMPP_CONTACT_PASSWORD=password)
        self.process = subprocess.Popen(
            ["/usr/bin/python3", CONTACT, jid, "127.0.0.1", str(server.port),
             "--ca", server.ca_file, *extra],
            env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.events = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.events.put(json.loads(line))

    def wait_for(self, kind, timeout=20.0):
        deadline = time.monotonic() + timeout
        while True:
            try:
                event = self.events.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise TimeoutError(f"no {kind} event within {timeout} s") from None
            if event["event"] == kind:
                return event

    def send(self, to, body):
        self.process.stdin.write((json.dumps({"send": [to, body]}) + "\n").encode())
        self.process.stdin.flush()

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.process.stdin.close()
        self.process.stdout.close()


def befriend(server, jid, password, friend):
    """jid asks friend (online, accepting) for its presence from a device of
    its own, and waits until friend is among its friends."""
    done = subprocess.run(
        ["/usr/bin/python3", CONTACT, jid, "127.0.0.1", str(server.port),
         "--ca", server.ca_file, "--befriend", friend],
        env=dict(os.environ, XMPP_CONTACT_PASSWORD=password),
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    if done.returncode != 0:
        raise RuntimeError(f"{jid} could not befriend {friend}")
