"""The documentation's pictures of a conversation at the design size: a page
with its entries' times and a message of two lines, and the status line in
each state it can show here (waiting for the chat client, attached with the
web endpoint, the translator not answering), in English and in Bulgarian.
The chat client is the tests' copy-data client, told each line to deliver;
run on a private session bus:

    dbus-run-session -- /usr/bin/python3 scripts/conversation_shots.py build/bin docs/images
"""

import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "app"))
from desktop_session import DesktopSession  # noqa: E402
from screen_reader import _walk, wait_until  # noqa: E402

BULGARIAN = "\u0411\u044a\u043b\u0433\u0430\u0440\u0441\u043a\u0438"


def main(bin_dir, folder):
    session = DesktopSession(os.path.abspath(bin_dir))
    try:
        session.start_translator()
        window = session.start_velantro()
        env = session.env
        handle = wait_until(lambda: subprocess.run(
            ["xdotool", "search", "--pid", str(session.velantro.pid)], env=env,
            capture_output=True, text=True).stdout.split(), 15, "velantro's window")[0]
        subprocess.run(["xdotool", "windowsize", "--sync", handle, "380", "338"], env=env)
        subprocess.run(["xdotool", "windowfocus", "--sync", handle], env=env)

        def shoot(name):
            time.sleep(0.7)
            path = os.path.join(folder, name)
            subprocess.run(["import", "-window", handle, path], env=env, check=True)
            print("Screenshot:", path)

        wait_until(lambda: window.status_line().startswith("Waiting"), 15, "waiting")
        shoot("velantro-status-waiting.png")

        client = session._start([sys.executable, os.path.join(
            HERE, "..", "tests", "e2e", "app", "fake_chat_client.py")],
            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)

        def deliver(*lines):
            for line in lines:
                client.stdin.write(line.encode().hex().encode() + b"00\n")
            client.stdin.flush()

        def message(number, sender, body):
            deliver(f"CHATMESSAGE {number} FROM_HANDLE {sender}",
                    f"CHATMESSAGE {number} BODY {body}")

        wait_until(lambda: "attached" in window.status_line(), 15, "attached")
        deliver("CURRENTUSERHANDLE maria", "USERS alice, bob, ivan")
        message(101, "alice", "Hola, maria")
        message(102, "bob", "Bonjour !")
        message(103, "alice", "Llego a las ocho.\nmaria: I owe bob 100 EUR")
        wait_until(lambda: len(window.page_lines("alice") or []) == 3, 15, "alice's entries")
        shoot("velantro-conversation-english.png")

        window.choose(window.label_texts()[0], BULGARIAN)
        time.sleep(0.5)
        shoot("velantro-conversation-bulgarian.png")

        session.stop(session.translator)
        message(104, "alice", "Hasta luego")
        message(105, "alice", "Adios")
        wait_until(lambda: len(window.page_lines("alice") or []) == 5, 30, "the untranslated")
        shoot("velantro-status-down-bulgarian.png")
        window.choose(window.label_texts()[0], "English")
        time.sleep(0.5)
        shoot("velantro-status-down-english.png")
    finally:
        session.close()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
