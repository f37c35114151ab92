"""Velantro's window as a screen reader sees it: read and driven through the
accessibility tree (AT-SPI), from outside the program, as a person with a
screen reader would. Used by the end-to-end tests and the demo.

Needs Debian's python3-pyatspi (run with /usr/bin/python3), xdotool for the
keyboard, and a program started with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 on
the same session bus.
"""

import os
import re
import subprocess
import time
import warnings

import pyatspi
from gi.repository import GLib

# pyatspi calls the deprecated interface getters of its own library.
warnings.simplefilter("ignore", DeprecationWarning)

CAPTION_PREFIX = "Velantro"
# How long a look-up keeps looking for a control before it gives up: the
# window answers slowly on a loaded machine, and a box may still be opening.
LOOKUP_TIMEOUT = 10.0


ENTRY_TIME = re.compile(r"^\d\d:\d\d ")


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


def _read(read, fallback=None):
    """What read gives, or fallback when its node went away meanwhile (a box
    closing, a page replaced): the accessibility bus then answers with an
    error for an object path that no longer exists."""
    try:
        return read()
    except GLib.GError:
        return fallback


def _children(node):
    for index in range(_read(lambda: node.childCount, 0)):
        child = _read(lambda: node.getChildAtIndex(index))
        if child is not None:
            yield child


def _walk(node):
    """(node, role) for node and everything under it, depth first; a node
    that goes away while it is read is left out, with what was under it."""
    role = _read(node.getRoleName)
    if role is None:
        return
    yield node, role
    for child in _children(node):
        yield from _walk(child)


def _walk_lists(node):
    """(node, role) for the lists under node, looking no deeper than a list."""
    role = _read(node.getRoleName)
    if role == "list":
        yield node, role
        return
    for child in _children(node):
        yield from _walk_lists(child)


def _name(node):
    return _read(lambda: node.name)


def _has_state(node, state):
    return _read(lambda: node.getState().contains(state), False)


def _text_of(node):
    """The node's whole text, or None when the node went away."""
    def read():
        text = node.queryText()
        return text.getText(0, text.characterCount)
    return _read(read)


def _look_up(find, what, timeout=LOOKUP_TIMEOUT):
    """Polls find until it gives something; raises LookupError when it has
    found nothing within timeout. find may meet nodes that go away."""
    try:
        return wait_until(lambda: _read(find), timeout, what)
    except TimeoutError:
        raise LookupError(f"no {what} within {timeout:g} s") from None


def _act_on(find, act, what, timeout=LOOKUP_TIMEOUT):
    """Looks the node up with find and acts on it with act; a node that goes
    away before the act is looked up again, until timeout. Gives act's result."""
    result = []

    def attempt():
        node = find()
        if node is None:
            return False
        result.append(act(node))
        return True
    _look_up(attempt, what, timeout)
    return result[0]


class VelantroWindow:
    """The main window of one running velantro, found by its process id.

    Readings (pages, error_box, ...) describe the window as it is at that
    moment and leave out whatever goes away while they read it; look-ups of
    a control (and the actions on one) keep looking until LOOKUP_TIMEOUT."""

    def __init__(self, pid, display, timeout=30.0):
        self.pid = pid
        self.display = display
        self.app = wait_until(self._find_app, timeout, f"velantro {pid} on the accessibility bus")

    def _find_app(self):
        desktop = pyatspi.Registry.getDesktop(0)
        # The desktop's list of applications is cached; an application that
        # registered after the first look would otherwise never be seen.
        desktop.clear_cache()
        for app in _children(desktop):
            if _read(app.get_process_id) == self.pid:
                return app
        return None

    def _frame_now(self):
        for child in _children(self.app):
            name = _name(child)
            if name is not None and name.startswith(CAPTION_PREFIX):
                return child
        return None

    def _frame(self):
        return _look_up(self._frame_now, "main window on the accessibility bus")

    def _find_now(self, role, name=None, root=None):
        root = root or self._frame_now()
        if root is None:
            return None
        for node, node_role in _walk(root):
            if node_role == role and (name is None or _name(node) == name):
                return node
        return None

    def _find(self, role, name=None, root=None):
        return _look_up(lambda: self._find_now(role, name, root), f"{role} named {name!r}")

    def _combo_now(self, label):
        """The list a label names (Qt links them by the labelled-by relation)."""
        label_node = self._find_now("label", label)
        if label_node is None:
            return None
        for relation in _read(label_node.getRelationSet, []):
            if _read(relation.getRelationType) == pyatspi.RELATION_LABEL_FOR:
                return _read(lambda: relation.getTarget(0))
        return None

    def _combo(self, label):
        return _look_up(lambda: self._combo_now(label), f"list named by the label {label!r}")

    def _box_now(self):
        for child in _children(self.app):
            if _read(child.getRoleName) in ("alert", "dialog"):
                return child
        return None

    # --- reading ---------------------------------------------------------------

    def caption(self):
        return _act_on(self._frame_now, _name, "main window's caption")

    def label_texts(self):
        return [_name(node) for node, role in _walk(self._frame()) if role == "label"
                and _name(node) is not None]

    def list_items(self, label):
        return [_name(node) for node, role in _walk(self._combo(label)) if role == "list item"
                and _name(node) is not None]

    def list_count(self, label):
        """How many items the list the label names holds, without reading
        each one (a list of thousands takes long to read item by item)."""
        for node, role in _walk_lists(self._combo(label)):
            return _read(lambda: node.childCount)
        return None

    def list_text(self, label):
        """The chosen item of the list the label names; empty with none (a
        list without a choice is named after its label)."""
        name = _act_on(lambda: self._combo_now(label), _name, f"list {label!r}")
        return name if name in self.list_items(label) else ""

    def pages(self, times=False):
        """Every conversation page: (caption, the lines of its log), in tab
        order. An entry's line starts with its time (hh:mm), left out unless
        times; a message's further lines start with a tab."""
        pages = []
        for node, role in _walk(self._frame()):
            if role == "text" and _has_state(node, pyatspi.STATE_READ_ONLY):
                name, text = _name(node), _text_of(node)
                if name is not None and text is not None:
                    lines = text.split("\n") if text else []
                    if not times:
                        lines = [ENTRY_TIME.sub("", line, count=1) for line in lines]
                    pages.append((name, lines))
        return pages

    def status_line(self):
        """The text of the window's status line."""
        return _look_up(lambda: next((_name(node) for node, role in _walk(self._frame())
                                      if role == "status bar"), None), "the status line")

    def page_lines(self, caption, times=False):
        for name, lines in self.pages(times):
            if name == caption:
                return lines
        return None

    def _send_button_now(self):
        name = self._send_button_name_now()
        return self._find_now("push button", name) if name is not None else None

    def send_enabled(self):
        return _act_on(self._send_button_now,
                       lambda button: button.getState().contains(pyatspi.STATE_ENABLED),
                       "Send button")

    def _send_button_name_now(self):
        frame = self._frame_now()
        if frame is None:
            return None
        for node, role in _walk(frame):
            name = _name(node)
            if role == "push button" and name is not None and name not in ("Scroll Left",
                                                                           "Scroll Right"):
                return name
        return None

    def send_button_name(self):
        return _look_up(self._send_button_name_now, "Send button")

    def message_text(self):
        return _act_on(self._message_edit_now, lambda edit: _text_of(edit) or "", "message field")

    def error_box(self):
        """The text of the error box on screen, or None."""
        box = self._box_now()
        if box is None:
            return None
        texts = [_name(node) for node, role in _walk(box) if role == "label" and _name(node)]
        return "\n".join(texts)

    # --- acting ------------------------------------------------------------------

    def _message_edit_now(self):
        frame = self._frame_now()
        if frame is None:
            return None
        for node, role in _walk(frame):
            if role == "text" and _has_state(node, pyatspi.STATE_EDITABLE):
                return node
        return None

    def type_message(self, text):
        """Replaces the message being written; line breaks start new lines."""
        _act_on(self._message_edit_now,
                lambda edit: edit.queryEditableText().setTextContents(text), "message field")

    def _keys(self, *keys):
        """Keys pressed on the keyboard (XTest, through xdotool) into this window."""
        env = dict(os.environ, DISPLAY=self.display)
        # Only windows on screen can take the focus; a box that has just
        # closed may still be listed and is gone by the time it is focused,
        # which xdotool reports and which changes nothing.
        windows = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.pid)],
                                 env=env, capture_output=True, text=True,
                                 check=False).stdout.split()
        for window in windows:
            subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, check=False,
                           stderr=subprocess.DEVNULL)
        subprocess.run(["xdotool", "key", "--delay", "20", *keys], env=env, check=True)

    def _focused_now(self):
        frame = self._frame_now()
        if frame is None:
            return None
        for node, _ in _walk(frame):
            if _has_state(node, pyatspi.STATE_FOCUSED):
                return node
        return None

    def choose(self, label, item):
        """Chooses an item of the list the label names with the keyboard, as a
        person does: Tab to the list, Home, then Down to the item."""
        combo = self._combo(label)
        for _ in range(12):
            if _has_state(combo, pyatspi.STATE_FOCUSED):
                break
            before = self._focused_now()
            self._keys("Tab")
            # A loaded machine may take a while to move the focus; the next
            # Tab pressed before it has moved would step past the list.
            try:
                wait_until(lambda: self._focused_now() not in (None, before), 3, "the focus moved")
            except TimeoutError:
                pass
        else:
            raise LookupError(f"Tab never reaches the list {label!r}")
        self._keys("Home", *["Down"] * self.list_items(label).index(item))
        # Choosing the language read relabels the window, its labels included.
        wait_until(lambda: _name(combo) == item, 5, f"{item!r} chosen in {label!r}")

    def press_send(self):
        _act_on(self._send_button_now, lambda button: button.queryAction().doAction(0), "Send button")

    def dismiss_error_box(self):
        def ok_button():
            box = self._box_now()
            return self._find_now("push button", "OK", box) if box is not None else None
        _act_on(ok_button, lambda button: button.queryAction().doAction(0), "error box")
