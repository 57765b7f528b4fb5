#!/usr/bin/env python3
"""wayland_a11y.py TONVALE: runs the program on the Wayland compositor of tests/support/private-wayland.sh
(TONVALE_TEST_COMPOSITOR) in a fresh working directory, drives it over the accessibility bus, and
ends it with Quit, which must exit with status 0 and write the 44-byte result.dat.

mutter: keys come through mutter's RemoteDesktop interface (a button is pressed by giving it the
focus over the bus and sending Space: window positions are unknown on Wayland, so no clicks). The
Interval Check opens, its Help opens the help window over it, which takes the focus and its keys;
Escape closes the help alone, the next Escape the dialog, and Quit ends the program.
weston: the compositor has no seat, so no keyboard and no pointer ever. The program must still
start, show its main window on the bus and end with Quit, pressed through the Action interface.
"""
import os
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import Gio, GLib

WAIT_SECONDS = 20
RESULT_SIZE = 44
KEY_TAB, KEY_SPACE, KEY_ESCAPE, KEY_SHIFT = 0xFF09, 0x20, 0xFF1B, 0xFFE1


class Failure(Exception):
    pass


def wait_for(what, probe, process):
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise Failure(f"the program ended (status {process.returncode}) waiting for {what}")
        try:
            found = probe()
        except Exception:  # an object that goes away while we look
            found = None
        if found:
            return found
        time.sleep(0.1)
    raise Failure(f"timed out waiting for {what}")


def has_state(node, state):
    return node.getState().contains(state)


def descendants(node, depth=0):
    if node is None or depth > 30:
        return
    yield node
    for child in node:
        yield from descendants(child, depth + 1)


def focused_in(node):
    """(role, name) of the focused object inside `node`, or None."""
    for n in descendants(node):
        if has_state(n, pyatspi.STATE_FOCUSED):
            return (n.getRoleName(), n.name)
    return None


class Program:
    def __init__(self, tonvale, work, env=None):
        self.work = work
        self.log = open(os.path.join(work, "tonvale.log"), "w+")
        self.process = subprocess.Popen([tonvale], cwd=work, stdout=self.log, stderr=subprocess.STDOUT, env=env)

    def wait(self, what, probe):
        return wait_for(what, probe, self.process)

    def app(self):
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.get_process_id() == self.process.pid:
                return app
        return None

    def window(self, name, prefix=False):
        """The showing top-level window named `name` (or starting with it), or None."""
        app = self.app()
        for window in app if app is not None else []:
            if window is not None and has_state(window, pyatspi.STATE_SHOWING) and (
                    window.name.startswith(name) if prefix else window.name == name):
                return window
        return None

    def active_window(self, name, prefix=False):
        window = self.window(name, prefix)
        return window if window is not None and has_state(window, pyatspi.STATE_ACTIVE) else None

    def button(self, window_name, label):
        # Client-side title bars bring buttons of their own ("Close"): the window's own come later.
        def probe():
            buttons = [n for n in descendants(self.window(window_name))
                       if n.getRoleName() == "push button" and n.name == label]
            return buttons[-1] if buttons else None
        return self.wait(f"the {label!r} button of {window_name!r}", probe)

    def end(self):
        try:
            return self.process.wait(WAIT_SECONDS)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end")

    def output(self):
        self.log.seek(0)
        return self.log.read()


class MutterKeys:
    """Keys through mutter's RemoteDesktop interface. Its virtual keyboard exists from the first key on."""

    def __init__(self):
        bus = Gio.bus_get_sync(Gio.BusType.SESSION)
        service = "org.gnome.Mutter.RemoteDesktop"
        desktop = Gio.DBusProxy.new_sync(bus, 0, None, service, "/org/gnome/Mutter/RemoteDesktop", service)
        path = desktop.call_sync("CreateSession", None, 0, -1, None).unpack()[0]
        self.session = Gio.DBusProxy.new_sync(bus, 0, None, service, path, service + ".Session")
        self.session.call_sync("Start", None, 0, -1, None)

    def press(self, keysym):
        for down in (True, False):
            self.session.call_sync("NotifyKeyboardKeysym", GLib.Variant("(ub)", (keysym, down)), 0, -1, None)


def focus_and_press(program, keys, button):
    button.queryComponent().grabFocus()
    program.wait(f"the focus on {button.name!r}", lambda: has_state(button, pyatspi.STATE_FOCUSED))
    keys.press(KEY_SPACE)


def english_desktop():
    """The environment of a GNOME session in English (locales made by tests/support/locales.sh)."""
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "locales.sh")
    env = dict(os.environ, LANG="en_US.UTF-8",
               LOCPATH=subprocess.run([script], check=True, capture_output=True, text=True).stdout.strip())
    for name in ("LC_ALL", "LC_MESSAGES", "LANGUAGE"):
        env.pop(name, None)
    return env


def drive_on_mutter(program):
    keys = MutterKeys()
    program.button("Tonvale", "Quit")
    keys.press(KEY_SHIFT)  # makes the keyboard, and with it the active window
    program.wait("the main window to become active", lambda: program.active_window("Tonvale"))

    # The range check's gate speaks the desktop's language.
    focus_and_press(program, keys, program.button("Tonvale", "Check Range"))
    notice = "Please complete the sound card check first."

    def notice_window():
        return next((w for w in (program.app() or []) if w is not None and has_state(w, pyatspi.STATE_SHOWING)
                     and any(n.name == notice for n in descendants(w))), None)

    box = program.wait("the gate's notice in English", notice_window)
    ok = program.wait("the notice's OK button", lambda: next(
        (n for n in descendants(box) if n.getRoleName() == "push button" and n.name == "OK"), None))
    focus_and_press(program, keys, ok)
    program.wait("the notice to close", lambda: notice_window() is None)
    program.wait("the main window to be active again", lambda: program.active_window("Tonvale"))

    focus_and_press(program, keys, program.button("Tonvale", "Check Interval"))
    program.wait("the Interval Check to become active", lambda: program.active_window("Interval Check"))

    focus_and_press(program, keys, program.button("Interval Check", "Help"))
    help_window = program.wait("an active help window",
                               lambda: program.active_window("Tonvale Help - Interval Check"))
    before = program.wait("the focus inside the help window", lambda: focused_in(help_window))
    # Tab moves the focus inside the help window, not into the dialog below.
    keys.press(KEY_TAB)
    program.wait("Tab to move the focus inside the help window",
                 lambda: focused_in(help_window) not in (None, before))

    keys.press(KEY_ESCAPE)
    program.wait("Escape to close the help window", lambda: program.window("Tonvale Help", prefix=True) is None)
    program.wait("the Interval Check to be active again", lambda: program.active_window("Interval Check"))

    keys.press(KEY_ESCAPE)
    program.wait("Escape to close the Interval Check", lambda: program.window("Interval Check") is None)
    program.wait("the main window to be active again", lambda: program.active_window("Tonvale"))
    focus_and_press(program, keys, program.button("Tonvale", "Quit"))


def drive_on_weston(program):
    # No keyboard: the button's action, as a screen reader or switch access presses it.
    program.button("Tonvale", "Quit").queryAction().doAction(0)


def main():
    tonvale = sys.argv[1]
    compositor = os.environ["TONVALE_TEST_COMPOSITOR"]
    with tempfile.TemporaryDirectory(prefix="tonvale-wayland-test.") as work:
        # GNOME's users mostly run an English session: the mutter run is one.
        program = Program(tonvale, work, english_desktop() if compositor == "mutter" else None)
        try:
            (drive_on_mutter if compositor == "mutter" else drive_on_weston)(program)
            status = program.end()
            if status != 0:
                raise Failure(f"exit status {status}")
            result = os.path.join(work, "result.dat")
            if not os.path.exists(result) or os.path.getsize(result) != RESULT_SIZE:
                raise Failure(f"Quit did not write the {RESULT_SIZE}-byte result.dat")
        except Failure as failure:
            program.process.kill()
            program.process.wait()
            print(f"on {compositor}: {failure}\n--- program output\n{program.output()}", file=sys.stderr)
            return 1
    print(f"on {compositor}: the program started, was driven and quit as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
