"""Velantro's window as a screen reader sees it: read and driven through the
accessibility tree (AT-SPI), from outside the program, as a person with a
screen reader would. Used by the end-to-end tests and the demo.

Needs Debian's python3-pyatspi (run with /usr/bin/python3), xdotool for the
keyboard, and a program started with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 on
the same session bus.
"""

import os
import subprocess
import time
import warnings

import pyatspi

# pyatspi calls the deprecated interface getters of its own library.
warnings.simplefilter("ignore", DeprecationWarning)

CAPTION_PREFIX = "Velantro"


def wait_until(condition, timeout=10.0, what="a condition"):
    """Polls condition until it gives something true; raises on time-out."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError(f"timed out waiting for {what}")
        time.sleep(0.05)


def _walk(node):
    yield node
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            yield from _walk(child)


def _text_of(node):
    text = node.queryText()
    return text.getText(0, text.characterCount)


class VelantroWindow:
    """The main window of one running velantro, found by its process id."""

    def __init__(self, pid, display, timeout=30.0):
        self.pid = pid
        self.display = display
        self.app = wait_until(self._find_app, timeout, f"velantro {pid} on the accessibility bus")

    def _find_app(self):
        desktop = pyatspi.Registry.getDesktop(0)
        # The desktop's list of applications is cached; an application that
        # registered after the first look would otherwise never be seen.
        desktop.clear_cache()
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            try:
                if app is not None and app.get_process_id() == self.pid:
                    return app
            except Exception:  # an application going away meanwhile
                continue
        return None

    def _frame(self):
        for index in range(self.app.childCount):
            child = self.app.getChildAtIndex(index)
            if child is not None and child.name.startswith(CAPTION_PREFIX):
                return child
        raise LookupError("the main window is not on the accessibility bus")

    def _find(self, role, name=None, root=None):
        for node in _walk(root or self._frame()):
            if node.getRoleName() == role and (name is None or node.name == name):
                return node
        raise LookupError(f"no {role} named {name!r}")

    def _combo(self, label):
        """The list a label names (Qt links them by the labelled-by relation)."""
        label_node = self._find("label", label)
        for relation in label_node.getRelationSet():
            if relation.getRelationType() == pyatspi.RELATION_LABEL_FOR:
                return relation.getTarget(0)
        raise LookupError(f"the label {label!r} names no list")

    # --- reading ---------------------------------------------------------------

    def caption(self):
        return self._frame().name

    def label_texts(self):
        return [node.name for node in _walk(self._frame()) if node.getRoleName() == "label"]

    def list_items(self, label):
        combo = self._combo(label)
        items = []
        for node in _walk(combo):
            if node.getRoleName() == "list item":
                items.append(node.name)
        return items

    def list_text(self, label):
        """The chosen item of the list the label names; empty with none (a
        list without a choice is named after its label)."""
        name = self._combo(label).name
        return name if name in self.list_items(label) else ""

    def pages(self):
        """Every conversation page: (caption, the lines of its log), in tab order."""
        pages = []
        for node in _walk(self._frame()):
            if node.getRoleName() == "text" and node.getState().contains(pyatspi.STATE_READ_ONLY):
                pages.append((node.name, _text_of(node).split("\n") if _text_of(node) else []))
        return pages

    def page_lines(self, caption):
        for name, lines in self.pages():
            if name == caption:
                return lines
        return None

    def send_enabled(self):
        return self._find("push button", self.send_button_name()).getState().contains(
            pyatspi.STATE_ENABLED)

    def send_button_name(self):
        frame = self._frame()
        buttons = [n for n in _walk(frame) if n.getRoleName() == "push button"
                   and n.name not in ("Scroll Left", "Scroll Right")]
        return buttons[0].name

    def message_text(self):
        return _text_of(self._message_edit())

    def error_box(self):
        """The text of the error box on screen, or None."""
        for index in range(self.app.childCount):
            child = self.app.getChildAtIndex(index)
            if child is not None and child.getRoleName() in ("alert", "dialog"):
                texts = [n.name for n in _walk(child) if n.getRoleName() == "label" and n.name]
                return "\n".join(texts)
        return None

    # --- acting ------------------------------------------------------------------

    def _message_edit(self):
        for node in _walk(self._frame()):
            state = node.getState()
            if node.getRoleName() == "text" and state.contains(pyatspi.STATE_EDITABLE):
                return node
        raise LookupError("no message field")

    def type_message(self, text):
        """Replaces the message being written; line breaks start new lines."""
        self._message_edit().queryEditableText().setTextContents(text)

    def _keys(self, *keys):
        """Keys pressed on the keyboard (XTest, through xdotool) into this window."""
        env = dict(os.environ, DISPLAY=self.display)
        windows = subprocess.run(["xdotool", "search", "--pid", str(self.pid)], env=env,
                                 capture_output=True, text=True, check=False).stdout.split()
        for window in windows:
            subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, check=False)
        subprocess.run(["xdotool", "key", "--delay", "20", *keys], env=env, check=True)

    def choose(self, label, item):
        """Chooses an item of the list the label names with the keyboard, as a
        person does: Tab to the list, Home, then Down to the item."""
        combo = self._combo(label)
        for _ in range(12):
            if combo.getState().contains(pyatspi.STATE_FOCUSED):
                break
            self._keys("Tab")
            time.sleep(0.05)
        else:
            raise LookupError(f"Tab never reaches the list {label!r}")
        self._keys("Home", *["Down"] * self.list_items(label).index(item))
        # Choosing the language read relabels the window, its labels included.
        wait_until(lambda: combo.name == item, 5, f"{item!r} chosen in {label!r}")

    def press_send(self):
        button = self._find("push button", self.send_button_name())
        button.queryAction().doAction(0)

    def dismiss_error_box(self):
        for index in range(self.app.childCount):
            child = self.app.getChildAtIndex(index)
            if child is not None and child.getRoleName() in ("alert", "dialog"):
                self._find("push button", "OK", child).queryAction().doAction(0)
                return
        raise LookupError("no error box")
