"""./make.sh demo --xmpp: Velantro with a real XMPP account behind the chat
client. A Prosody of its own on 127.0.0.1 (TLS with a certificate made for
the run), two accounts, alice (Velantro's, through skype-peer --xmpp) and bob
(the other side, whose messages you type here), the translator stand-in and
Velantro, all on a private session bus.

With a display the window shows; lines typed here are sent by bob, bob's
messages are printed, and the accounts can be used from any XMPP client
(Gajim, Dino, Profanity) too. Without one it runs on a virtual display,
plays one exchange, prints its transcript and saves a screenshot of the
window beside the transcript (a second argument names the picture)."""

import os
import secrets
import shutil
import subprocess
import sys
import tempfile
import threading

SCRIPTS = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, SCRIPTS)
from local_prosody import Contact, LocalProsody, befriend, free_port  # noqa: E402
from private_bus import on_private_bus  # noqa: E402


def start_all(bin_dir, folder, display):
    server = LocalProsody(os.path.join(folder, "prosody"))
    passwords = {"alice": secrets.token_urlsafe(12), "bob": secrets.token_urlsafe(12)}
    alice = server.register("alice", passwords["alice"])
    bob_jid = server.register("bob", passwords["bob"])
    server.start()
    bob = Contact(server, bob_jid, passwords["bob"])
    bob.wait_for("ready")
    befriend(server, alice, passwords["alice"], bob_jid)

    port = free_port()
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(folder, "config"),
               XDG_DATA_HOME=os.path.join(folder, "data"),
               XDG_STATE_HOME=os.path.join(folder, "state"),
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               VELANTRO_WEB_ENDPOINT=f"http://127.0.0.1:{port}/vl.asp")
    if display:
        env["DISPLAY"] = display
    # A real offline engine when Debian's apertium is installed; the
    # translator falls back to its phrase book by itself otherwise.
    engine = ["--engine", "apertium"] if shutil.which("apertium") else []
    processes = [subprocess.Popen([os.path.join(bin_dir, "translator"), "--web", "--port",
                                   str(port), *engine], env=env, stderr=subprocess.DEVNULL)]
    password_file = os.path.join(folder, "alice.password")
    with open(os.open(password_file, os.O_WRONLY | os.O_CREAT, 0o600), "w") as file:
        file.write(passwords["alice"] + "\n")
    processes.append(subprocess.Popen(
        [os.path.join(bin_dir, "skype-peer"), "--quiet", "--xmpp", alice,
         "--xmpp-password-file", password_file, "--xmpp-server", f"127.0.0.1:{server.port}",
         "--xmpp-ca", server.ca_file], env=env, stdin=subprocess.DEVNULL))
    processes.append(subprocess.Popen([os.path.join(bin_dir, "velantro")], env=env, cwd=folder,
                                      stderr=subprocess.DEVNULL))
    return server, bob, processes, alice, bob_jid, passwords


def interactive(server, bob, alice, bob_jid, passwords, velantro):
    print(f"Prosody on 127.0.0.1:{server.port}, domain localhost, certificate {server.ca_file}")
    print(f"  {alice} (Velantro's account) password {passwords['alice']}")
    print(f"  {bob_jid} (yours, here) password {passwords['bob']}")
    print(f"Type a line to send it as {bob_jid}; write in Spanish, French or Bulgarian and")
    print("Velantro shows it in English. Answer in Velantro's window. Close it to end.")

    def show():
        while True:
            event = bob.wait_for("message", timeout=10 ** 6)
            print(f"\n{event['from']} -> {bob_jid}: {event['body']}\n> ", end="", flush=True)

    threading.Thread(target=show, daemon=True).start()

    def read():
        for line in sys.stdin:
            if line.strip():
                bob.send(alice, line.rstrip("\n"))

    threading.Thread(target=read, daemon=True).start()
    velantro.wait()


def scripted(bob, alice, bob_jid, velantro, display, picture):
    from screen_reader import VelantroWindow, wait_until
    window = VelantroWindow(velantro.pid, display)

    def contacts():
        try:
            return window.list_items("To")
        except LookupError:
            return None

    wait_until(lambda: contacts() == [bob_jid], 30, "bob among the contacts")
    transcript = [f"$ {os.path.basename(sys.executable)} scripts/xmpp_contact.py {bob_jid} ...",
                  f"  signed in as {bob_jid}"]
    first = "Hola amigo, ¿cómo estás?"
    bob.send(alice, first)
    transcript.append(f"  sent     to {alice}: {first}")
    wait_until(lambda: window.page_lines(bob_jid), 20, "bob's message on his page")
    window.choose("in", "Espanol")
    window.type_message("Very well, thanks my friend")
    wait_until(window.send_enabled, 5, "Send enabled")
    window.press_send()
    reply = bob.wait_for("message")
    transcript.append(f"  received from {reply['from']}: {reply['body']}")
    wait_until(lambda: len(window.page_lines(bob_jid)) == 2, 10, "the reply on the page")
    print("The XMPP side (slixmpp as bob):")
    print("\n".join(transcript))
    print(f"Velantro's page {bob_jid}:")
    for line in window.page_lines(bob_jid):
        print("  " + line)

    env = dict(os.environ, DISPLAY=display)
    shot = picture + ".window.png"
    window_id = subprocess.run(["xdotool", "search", "--pid", str(velantro.pid)], env=env,
                               capture_output=True, text=True, check=True).stdout.split()[0]
    subprocess.run(["import", "-window", window_id, shot], env=env, check=True)
    text = picture + ".transcript.png"
    subprocess.run(["convert", "-background", "#1e1e1e", "-fill", "#d0d0d0", "-font",
                    "DejaVu-Sans-Mono", "-pointsize", "13", "-border", "12",
                    "-bordercolor", "#1e1e1e", "label:" + "\n".join(transcript), text], check=True)
    subprocess.run(["convert", shot, text, "-background", "white", "-gravity", "center",
                    "+append", picture], check=True)
    os.remove(shot)
    os.remove(text)
    print(f"Screenshot: {picture}")


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    bin_dir = os.path.abspath(os.path.join(build, "bin"))
    on_private_bus(os.path.abspath(__file__), sys.argv[1:], "VELANTRO_DEMO_ON_BUS")
    picture = os.path.abspath(sys.argv[2] if len(sys.argv) > 2
                              else os.path.join(build, "velantro-xmpp-demo.png"))
    folder = tempfile.mkdtemp(prefix="velantro-xmpp-demo-")
    processes = []
    server = bob = None
    try:
        display = os.environ.get("DISPLAY")
        headless = not display and not os.environ.get("WAYLAND_DISPLAY")
        if headless:
            from virtual_display import start_display
            xvfb, display = start_display()
            processes.append(xvfb)
        server, bob, started, alice, bob_jid, passwords = start_all(bin_dir, folder, display)
        processes += started
        if headless:
            scripted(bob, alice, bob_jid, started[-1], display, picture)
        else:
            interactive(server, bob, alice, bob_jid, passwords, started[-1])
    finally:
        if bob is not None:
            bob.close()
        for process in reversed(processes):
            if process.poll() is None:
                process.terminate()
                process.wait(10)
        if server is not None:
            server.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
