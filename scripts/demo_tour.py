"""The demo's tour without a display: waits for the friends' messages, sends
one to alice in Spanish through the window, prints every conversation page as
a screen reader reads it, saves a screenshot of the window, and tries a
message to a contact the chat client no longer has."""

import os
import subprocess
import sys
import time

from screen_reader import VelantroWindow, wait_until


def main(pid, display, screenshot, folder=None):
    window = VelantroWindow(pid, display)
    wait_until(lambda: window.list_items("To"), 15, "the contacts")
    print(f"Window: {window.caption()!r}; contacts: {', '.join(window.list_items('To'))}")
    wait_until(lambda: len(window.pages()) >= 3 and len(window.page_lines("alice") or []) >= 2,
               30, "the friends' messages")

    print('Sending "Hello my friend, thank you" to alice in Spanish...')
    window.choose("To", "alice")
    window.choose("in", "Espanol")
    window.type_message("Hello my friend, thank you")
    wait_until(window.send_enabled, 5, "the Send button")
    window.press_send()
    wait_until(lambda: len(window.page_lines("alice")) >= 3, 30, "the entry on alice's page")

    for caption, lines in window.pages():
        print(f"\n== {caption}")
        for line in lines:
            print(f"   {line}")
    error = window.error_box()
    if error:
        print(f"\nError box: {error}")

    shoot(pid, display, screenshot)
    print(f"\nScreenshot: {screenshot}")
    if folder:
        take_documentation_shots(window, pid, display, folder)

    # olga is in the list, but the chat client no longer has her.
    print('\nSending "See you" to olga...')
    wait_until(lambda: "olga" in window.list_items("To"), 15, "olga in the list")
    window.choose("To", "olga")
    window.type_message("See you")
    window.press_send()
    print(f"Error box: {wait_until(window.error_box, 30, 'the refusal')}")
    window.dismiss_error_box()
    print(f"Still in the message field: {window.message_text()!r}")


def xdotool(display, *args):
    env = dict(os.environ, DISPLAY=display)
    return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True,
                          check=True).stdout.split()


def shoot(pid, display, path):
    window = xdotool(display, "search", "--pid", str(pid))[0]
    subprocess.run(["import", "-window", window, path], env=dict(os.environ, DISPLAY=display),
                   check=True)


def take_documentation_shots(window, pid, display, folder):
    """The window in English and in Bulgarian, at its design size and stretched."""
    os.makedirs(folder, exist_ok=True)
    handle = xdotool(display, "search", "--pid", str(pid))[0]
    for language, name in (("English", "english"), ("Български", "bulgarian")):
        window.choose(window.label_texts()[0], language)
        for size, suffix in (((380, 338), "design"), ((640, 460), "stretched")):
            xdotool(display, "windowsize", "--sync", handle, str(size[0]), str(size[1]))
            time.sleep(1)  # the window lays itself out anew
            path = os.path.join(folder, f"velantro-{name}-{suffix}.png")
            shoot(pid, display, path)
            print(f"Screenshot: {path}")
    # Back to English, where the tour's labels are.
    window.choose(window.label_texts()[0], "English")
    xdotool(display, "windowsize", "--sync", handle, "380", "338")


if __name__ == "__main__":
    folder = sys.argv[4] if len(sys.argv) > 4 else None
    main(int(sys.argv[1]), sys.argv[2], sys.argv[3], folder)
