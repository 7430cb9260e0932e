#!/usr/bin/python3
"""Sonabox as a screen reader sees it.

Runs the program on a private X display (Xvfb) with its own session bus and
accessibility bus, then works through AT-SPI alone: finds the main window, the
Find page tab, the keywords edit and the find button by role and name, types a
character into the edit and waits for the find button to become enabled.

    accessibility_test.py PATH-TO-SONABOX

Exits 77 (skipped) only when Xvfb is not installed.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
TIMEOUT = 30.0


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def outer(program):
    """Starts a session bus and runs the test again inside it."""
    if shutil.which("Xvfb") is None:
        print("SKIP: Xvfb is not installed")
        return SKIP
    if shutil.which("dbus-run-session") is None:
        fail("dbus-run-session is missing (package dbus-bin or dbus)")
    env = dict(os.environ, SONABOX_A11Y_INNER="1")
    return subprocess.call(["dbus-run-session", "--", sys.executable, __file__, program], env=env)


def start_xvfb():
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    deadline = time.monotonic() + TIMEOUT
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        chunk = os.read(read, 16)
        if not chunk:
            break
        number += chunk
    os.close(read)
    if not number.strip():
        xvfb.kill()
        fail("Xvfb did not start")
    return xvfb, ":" + number.decode().strip()


def pump():
    """Lets AT-SPI's client library take the events that keep its cache fresh."""
    from gi.repository import GLib
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def wait_for(what, probe):
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        pump()
        found = probe()
        if found:
            return found
        time.sleep(0.1)
    fail("timed out waiting for " + what)


def find(root, role, name):
    """The first showing descendant of root with the role and name."""
    import pyatspi

    def match(acc):
        try:
            return acc.getRole() == role and acc.name == name and \
                acc.getState().contains(pyatspi.STATE_SHOWING)
        except Exception:  # an object that went away while walking
            return False
    return pyatspi.findDescendant(root, match)


def enabled(acc):
    import pyatspi
    acc.clearCache()
    states = acc.getState()
    return states.contains(pyatspi.STATE_ENABLED) and states.contains(pyatspi.STATE_SENSITIVE)


def inner(program):
    xvfb, display = start_xvfb()
    home = tempfile.mkdtemp(prefix="sonabox-a11y-")
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               QT_ACCESSIBILITY="1", XDG_CONFIG_HOME=home + "/config", XDG_DATA_HOME=home + "/data",
               XDG_RUNTIME_DIR=home)
    os.environ.update(DISPLAY=display)
    app = subprocess.Popen([program], env=env)
    try:
        import pyatspi
        desktop = pyatspi.Registry.getDesktop(0)

        def frame():
            for application in desktop:
                if application is None:
                    continue
                found = find(application, pyatspi.ROLE_FRAME, "Sonabox 1.0.0")
                if found:
                    return found
            return None
        window = wait_for("the main window", frame)

        # The three pages are page tabs named by their captions.
        for caption in ("Play", "Find", "Share"):
            wait_for("the page tab " + caption, lambda: find(window, pyatspi.ROLE_PAGE_TAB, caption))
        # The player's picture buttons are push buttons named by their hints.
        for hint in ("Previous Video", "Play Video", "Stop Video", "Next Video"):
            wait_for("the button " + hint, lambda: find(window, pyatspi.ROLE_PUSH_BUTTON, hint))

        # The link under the player opens the expanded video window.
        link = wait_for("the Expand Video link", lambda: find(window, pyatspi.ROLE_LINK, "Expand Video"))
        link.queryAction().doAction(0)
        wait_for("the expanded video window", lambda: any(
            top.name == "Currently Playing: " for application in desktop if application for top in application))

        # Go to the Find page the way a screen reader does: the tab's action.
        tab = find(window, pyatspi.ROLE_PAGE_TAB, "Find")
        action = tab.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        if not names:
            fail("the Find tab offers no action")
        action.doAction(0)

        edit = wait_for("the keywords edit", lambda: find(window, pyatspi.ROLE_TEXT, "Search for new tunes to add"))
        button = wait_for("the find button", lambda: find(window, pyatspi.ROLE_PUSH_BUTTON, "Search"))
        wait_for("the find button to be disabled while the edit is empty", lambda: not enabled(button))

        edit.queryEditableText().insertText(0, "a", 1)
        wait_for("the typed character", lambda: edit.queryText().getText(0, -1) == "a")
        wait_for("the find button to become enabled", lambda: enabled(button))
        print("PASS: the Find tab, the keywords edit and the find button work through AT-SPI")
        return 0
    finally:
        app.send_signal(signal.SIGTERM)
        try:
            app.wait(10)
        except subprocess.TimeoutExpired:
            app.kill()
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(home, ignore_errors=True)


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    program = os.path.abspath(sys.argv[1])
    if os.environ.get("SONABOX_A11Y_INNER") != "1":
        return outer(program)
    return inner(program)


if __name__ == "__main__":
    sys.exit(main())
