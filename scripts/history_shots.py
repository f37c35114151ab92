"""The documentation's pictures of the history: a page back after a restart,
with a message that came while Velantro was closed, and a search (Ctrl+F)
showing a found entry in its place. skype-peer plays the chat client; run on
a private session bus:

    dbus-run-session -- /usr/bin/python3 scripts/history_shots.py build/bin docs/images
"""

import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "app"))
from desktop_session import DesktopSession, quietly  # noqa: E402
from screen_reader import wait_until  # noqa: E402


def start(session):
    window = session.start_velantro()
    wait_until(quietly(lambda: window.list_items("To")), 15, "the contacts")
    handle = wait_until(lambda: subprocess.run(
        ["xdotool", "search", "--onlyvisible", "--pid", str(session.velantro.pid)],
        env=session.env, capture_output=True, text=True).stdout.split(), 15,
        "velantro's window")[0]
    subprocess.run(["xdotool", "windowsize", "--sync", handle, "520", "360"], env=session.env)
    session.focus_velantro(window)
    return window, handle


def main(bin_dir, folder):
    session = DesktopSession(os.path.abspath(bin_dir))
    try:
        session.start_translator()
        session.start_peer(friends="alice,bob")
        window, handle = start(session)
        for line in ("alice: Hola maria, ¿vamos al café mañana?", "bob: Bonjour"):
            session.peer_says(line)
        wait_until(quietly(lambda: len(window.page_lines("alice") or []) == 1), 20, "alice")
        window.type_message("Yes, at ten")
        window._keys("Return")
        wait_until(quietly(lambda: len(window.page_lines("alice") or []) == 2), 20, "the reply")
        session.close_window()
        session.velantro.wait(15)
        session.peer_says("alice: Llego un poco tarde")
        time.sleep(1)

        window, handle = start(session)
        wait_until(quietly(lambda: len(window.page_lines("alice") or []) == 3), 20,
                   "the missed message")

        def shoot(name):
            time.sleep(0.7)
            path = os.path.join(folder, name)
            subprocess.run(["import", "-window", handle, path], env=session.env, check=True)
            print("Screenshot:", path)

        shoot("velantro-history-restored.png")
        window._keys("ctrl+f", *"cafe", "Return")
        wait_until(quietly(lambda: "1 of 1" in window.label_texts()), 10, "the entry found")
        shoot("velantro-history-search.png")
    finally:
        session.close()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
