#!/usr/bin/python3
"""Journey: a person who uses only the keyboard. Ctrl+F goes to the search
field; typing and Enter search; Tab reaches the first result's check button,
Down the next one, Space ticks it; Tab goes on to the save bar, where the name
of a new playlist is typed and Enter saves; Ctrl+1 shows the Play page, where
the new playlist is chosen, and Space plays it.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402

NAME = "By Keys"


def key(display, *keys):
    subprocess.check_call(["xdotool", "key", "--delay", "120"] + list(keys),
                          env=dict(os.environ, DISPLAY=display.name))


def focused(program):
    """The control that has the keyboard, as a screen reader sees it."""
    import pyatspi

    def match(acc):
        try:
            return acc.getState().contains(pyatspi.STATE_FOCUSED)
        except Exception:
            return False
    try:
        return pyatspi.findDescendant(program.window, match)
    except Exception:
        return None


def main():
    status = journey.enter_session(os.path.abspath(__file__), sys.argv[1:])
    if status is not None:
        return status
    import pyatspi
    with journey.World() as world:
        display, service = world.start()
        program = world.person().start()
        window = program.window
        # The window manager gives the new window the keyboard, as on a desktop.
        journey.wait_for("the window to have the keyboard", lambda: (
            window.clearCache() or window.getState().contains(pyatspi.STATE_ACTIVE)))

        key(display, "ctrl+f")
        journey.wait_for("the search field focused", lambda: (focused(program) or window).getRole()
                         == pyatspi.ROLE_TEXT)
        journey.type_text(display, "test")  # three videos in the default category, Music
        key(display, "Return")
        journey.wait_for("the results", lambda: journey.find(
            window, pyatspi.ROLE_CHECK_BOX, prefix="Add "), 40)

        # Tab from the search field: the category, the search button, then
        # the results as one stop.
        for _ in range(4):
            now = focused(program)
            if now is not None and now.getRole() == pyatspi.ROLE_CHECK_BOX:
                break
            key(display, "Tab")
        first = focused(program)
        if first is None or first.getRole() != pyatspi.ROLE_CHECK_BOX:
            journey.fail("Tab did not reach a result's check button")
        key(display, "Down")
        second = journey.wait_for("the next result focused", lambda: (
            lambda now: now if now is not None and now.getRole() == pyatspi.ROLE_CHECK_BOX
            and now.name != first.name else None)(focused(program)))
        key(display, "space")
        journey.wait_for("%r ticked" % second.name, lambda: (
            second.clearCache() or second.getState().contains(pyatspi.STATE_CHECKED)))

        # On to the save bar: the list of playlists (none yet), then the new name.
        key(display, "Tab", "Tab")
        name = journey.wait_for("the new playlist's name focused", lambda: (
            lambda now: now if now is not None and now.getRole() == pyatspi.ROLE_TEXT
            and now.name == "Or create new play list:" else None)(focused(program)))
        journey.type_text(display, NAME)
        key(display, "Return")
        journey.wait_for("the saved message", lambda: journey.find(
            window, pyatspi.ROLE_LABEL, '1 video added to "%s"' % NAME), 30)
        name.clearCache()

        key(display, "ctrl+1")
        journey.wait_for("%r chosen on the Play page" % NAME, lambda: journey.find(
            window, pyatspi.ROLE_COMBO_BOX, NAME))
        key(display, "space")
        title = second.name[len("Add "):]
        journey.wait_for("%r playing" % title,
                         lambda: journey.now_playing(window) == "Now playing: " + title, 40)
        program.close_and_wait()
        print("ticked %r, saved into %r and played it with the keyboard only" % (title, NAME))
        return 0


if __name__ == "__main__":
    sys.exit(main())
