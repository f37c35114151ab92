"""The documentation's pictures of a busy window: 18 partners on wrapped tab
rows at the design size, a tab marked unread, a page with the original texts
shown (and the log's context menu open), and the same in the Bulgarian
interface. Run on a private session bus:

    dbus-run-session -- /usr/bin/python3 scripts/window_shots.py build/bin docs/images
"""

import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "app"))
from desktop_session import DesktopSession  # noqa: E402
from screen_reader import _walk, wait_until  # noqa: E402

PARTNERS = ["alice", "bob", "Carol", "dave", "erin", "frank", "grace", "heidi",
            "\u0438\u0432\u0430\u043d.\u043f\u0435\u0442\u0440\u043e\u0432", "judy",
            "maximilian.von.hohenzollern-sigmaringen", "niaj", "olivia", "peggy", "rupert",
            "\u0441\u0438\u0431\u0438\u043b", "trent", "walter"]
SAYINGS = ["Hola amigo", "Bonjour mon ami", "Gracias", "Buenos dias", "Merci", "Hola"]


def main(bin_dir, folder):
    session = DesktopSession(os.path.abspath(bin_dir))
    try:
        session.start_translator()
        session.start_peer(friends=",".join(PARTNERS))
        window = session.start_velantro()
        wait_until(lambda: window.list_items("To"), 15, "the contacts")
        env = session.env
        handle = subprocess.run(["xdotool", "search", "--pid", str(session.velantro.pid)],
                                env=env, capture_output=True, text=True).stdout.split()[0]
        subprocess.run(["xdotool", "windowsize", "--sync", handle, "380", "338"], env=env)
        subprocess.run(["xdotool", "windowfocus", "--sync", handle], env=env)

        def tabs():
            return [n for n, role in _walk(window._frame()) if role == "page tab"]

        def shoot(name):
            time.sleep(0.5)
            path = os.path.join(folder, name)
            subprocess.run(["import", "-window", handle, path], env=env, check=True)
            print("Screenshot:", path)

        def show_everything():
            for tab in tabs():
                tab.queryAction().doAction(0)
            tabs()[0].queryAction().doAction(0)

        for index, partner in enumerate(PARTNERS):
            session.peer_says(f"{partner}: {SAYINGS[index % len(SAYINGS)]}")
        wait_until(lambda: len(tabs()) == len(PARTNERS), 30, "every page")
        show_everything()
        shoot("velantro-tabs-18-design.png")

        session.peer_says("bob: Buenos dias amigo")
        session.peer_says("grace: Merci mon ami")
        wait_until(lambda: sum(t.description == "Unread messages" for t in tabs()) == 2, 10,
                   "two unread tabs")
        shoot("velantro-unread.png")

        # "Show original text" from alice's log's context menu.
        alice = tabs()[0]
        alice.queryAction().doAction(0)
        memo = next(n for n, role in _walk(window._frame()) if role == "text"
                    and n.name == "alice")
        box = memo.queryComponent().getExtents(0)
        subprocess.run(["xdotool", "mousemove", str(box.x + 60), str(box.y + 30), "click", "3"],
                       env=env, check=True)
        time.sleep(1)
        frame = window._frame().queryComponent().getExtents(0)
        menu_shot = os.path.join(folder, "velantro-context-menu.png")
        subprocess.run(["import", "-window", "root", "-crop",
                        f"{frame.width}x{frame.height}+{frame.x}+{frame.y}",
                        menu_shot], env=env, check=True)
        print("Screenshot:", menu_shot)
        # The menu's last item, chosen with the keyboard.
        subprocess.run(["xdotool", "key", "--delay", "100", "Up", "Return"], env=env, check=True)
        session.peer_says("alice: Gracias amigo")
        session.peer_says("alice: Buenos dias")
        wait_until(lambda: len(window.page_lines("alice")) == 3, 10, "alice's new entries")
        shoot("velantro-originals.png")

        window.choose(window.label_texts()[0], "\u0411\u044a\u043b\u0433\u0430\u0440\u0441\u043a\u0438")
        session.peer_says("alice: Hola amigo")
        session.peer_says("bob: Gracias")
        wait_until(lambda: len(window.page_lines("alice")) == 4, 10, "alice's Bulgarian entry")
        shoot("velantro-bulgarian-originals.png")
    finally:
        session.close()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
