#!/usr/bin/python3
"""Journey: a person shapes a playlist on the Play page. A row moves down with
Ctrl+Down and another is dragged to the top with the mouse; F2 renames the
playlist with a name typed key by key; Delete Video takes a row away and
Ctrl+Z brings it back. After each step the grid and the files agree.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402

NAME = "Road Trip"


def key(display, *keys):
    subprocess.check_call(["xdotool", "key", "--delay", "80"] + list(keys),
                          env=dict(os.environ, DISPLAY=display.name))


def drag(display, start, end):
    """A real drag with the mouse, in small steps as a hand moves."""
    env = dict(os.environ, DISPLAY=display.name)
    subprocess.check_call(["xdotool", "mousemove", "--sync", str(start[0]), str(start[1]),
                           "mousedown", "1"], env=env)
    steps = 12
    for i in range(1, steps + 1):
        x = start[0] + (end[0] - start[0]) * i // steps
        y = start[1] + (end[1] - start[1]) * i // steps
        subprocess.check_call(["xdotool", "mousemove", "--sync", str(x), str(y)], env=env)
        time.sleep(0.05)
    subprocess.check_call(["xdotool", "mouseup", "1"], env=env)


def grid(window):
    import pyatspi
    return journey.find(window, pyatspi.ROLE_TABLE, "Play list videos")


def titles(window):
    """The titles in the grid, top to bottom."""
    table = grid(window)
    if table is None:
        return None
    table.clearCache()
    cells = table.queryTable()
    return [cells.getAccessibleAt(row, 0).name for row in range(cells.nRows)]


def cell(window, row):
    return grid(window).queryTable().getAccessibleAt(row, 0)


def expect_titles(window, wanted, what):
    journey.wait_for("%s: %r" % (what, wanted), lambda: titles(window) == wanted)


def main():
    status = journey.enter_session(os.path.abspath(__file__), sys.argv[1:])
    if status is not None:
        return status
    import pyatspi
    with journey.World() as world:
        display, service = world.start()
        program = world.person()
        page = service.search("", 4)
        program.make_playlist("Mix", page)
        shown = program.run_cli("show", "Mix").decode().splitlines()
        rows = [line.split("\t")[0] for line in shown]
        if len(rows) < 3:
            journey.fail("the demo feed gave %d videos, three are needed" % len(rows))
        program.start()
        window = program.window

        journey.open_tab(program, "Play")
        combo = program.open_playlist("Mix")
        expect_titles(window, rows, "the playlist in the grid")

        # Ctrl+Down moves the first row below the second.
        journey.click(display, journey.centre(program.extents(cell(window, 0))))
        key(display, "ctrl+Down")
        rows[0], rows[1] = rows[1], rows[0]
        expect_titles(window, rows, "the first row moved down")

        # The third row dragged onto the first takes its place.
        start = journey.centre(program.extents(cell(window, 2)))
        end = journey.centre(program.extents(cell(window, 0)))
        drag(display, start, end)
        rows.insert(0, rows.pop(2))
        expect_titles(window, rows, "the third row dragged to the top")
        saved = [line.split("\t")[0] for line in
                 program.run_cli("show", "Mix").decode().splitlines()]
        if saved != rows:
            journey.fail("the file holds %r, the grid shows %r" % (saved, rows))

        # F2 on the playlist choice: the new name typed key by key.
        program.focus_control(combo)
        key(display, "Escape")  # the click opened the list; the choice keeps the keys
        key(display, "F2")
        dialog = journey.wait_for("the rename dialog", lambda: journey.find(
            program.application(), pyatspi.ROLE_DIALOG, "Rename PlayList"))
        edit = journey.find(dialog, pyatspi.ROLE_TEXT)
        key(display, "ctrl+a")
        journey.type_text(display, NAME)
        edit.clearCache()
        typed = edit.queryText().getText(0, -1)
        if typed != NAME:
            journey.fail("the name field reads %r after typing %r" % (typed, NAME))
        key(display, "Return")
        journey.wait_for("the playlist renamed", lambda: journey.find(
            window, pyatspi.ROLE_COMBO_BOX, NAME))
        listed = program.run_cli("list").decode().splitlines()
        if listed != [NAME]:
            journey.fail("the store lists %r after the rename" % listed)
        expect_titles(window, rows, "the renamed playlist still open")

        # Delete Video asks nothing; Ctrl+Z brings the video back in its place.
        journey.click(display, journey.centre(program.extents(cell(window, 1))))
        delete = journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Delete Video")
        journey.click(display, journey.centre(program.extents(delete)))
        gone = rows.pop(1)
        expect_titles(window, rows, "a video deleted")
        journey.wait_for("the message line", lambda: journey.find(
            window, pyatspi.ROLE_LABEL, "Deleted \"%s\" from \"%s\"." % (gone, NAME)))
        journey.wait_for("Undo offered", lambda: journey.find(
            window, pyatspi.ROLE_PUSH_BUTTON, "Undo"))
        picture = os.environ.get("SONABOX_JOURNEY_SCREENSHOT")
        if picture:
            display.grab(program.extents(window)).save(picture)
        journey.click(display, journey.centre(program.extents(grid(window))))
        key(display, "ctrl+z")
        rows.insert(1, gone)
        expect_titles(window, rows, "the video back")
        saved = [line.split("\t")[0] for line in
                 program.run_cli("show", NAME).decode().splitlines()]
        if saved != rows:
            journey.fail("the file holds %r after Undo, the grid shows %r" % (saved, rows))

        program.close_and_wait()
        print("moved, dragged, renamed to %r, deleted and took back %r" % (NAME, gone))
        return 0


if __name__ == "__main__":
    sys.exit(main())
