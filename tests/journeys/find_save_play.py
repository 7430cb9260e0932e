#!/usr/bin/python3
"""Journey: a person with two playlists already chooses the category "Any"
on the Find page, searches by typing, ticks two results with the mouse, types the name of a new playlist
with real key presses, saves (the ticks clear; saving a saved video again asks
first and can skip it), and plays the new playlist on the Play page:
Play, Next, then Previous goes back to the first video; Stop and close.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402

NAME = "Road Trip"


def type_into(program, label, text):
    """Clicks into the field named by its label and types the text key by key;
    the field must then read exactly that text."""
    import pyatspi
    edit = journey.wait_for("the field " + label, lambda: journey.find(
        program.window, pyatspi.ROLE_TEXT, label))
    program.focus_control(edit)
    journey.type_text(program.display, text)
    edit.clearCache()
    typed = edit.queryText().getText(0, -1)
    if typed != text:
        journey.fail("the field %r reads %r after typing %r" % (label, typed, text))


def ticks(program, checked):
    """The results' check buttons ("Add <title>") shown, ticked or not."""
    import pyatspi

    def match(acc):
        try:
            state = acc.getState()
            return (acc.getRole() == pyatspi.ROLE_CHECK_BOX and acc.name.startswith("Add ")
                    and state.contains(pyatspi.STATE_SHOWING)
                    and state.contains(pyatspi.STATE_CHECKED) == checked)
        except Exception:
            return False
    return pyatspi.findAllDescendants(program.window, match)


def main():
    status = journey.enter_session(os.path.abspath(__file__), sys.argv[1:])
    if status is not None:
        return status
    import pyatspi
    with journey.World() as world:
        display, service = world.start()
        program = world.person()
        page = service.search("sine")
        for existing in ("Chill", "Mix"):
            program.make_playlist(existing, page)
        program.start()

        journey.open_tab(program, "Find")
        # The service's own categories replace the fixed list; "Any" is one.
        category = journey.wait_for("the category choice", lambda: journey.find(
            program.window, pyatspi.ROLE_COMBO_BOX, "Music"))
        program.choose(category, "Any")
        type_into(program, "Search for new tunes to add", "pattern")
        search = journey.wait_for("the Search button", lambda: journey.find(
            program.window, pyatspi.ROLE_PUSH_BUTTON, "Search"))
        journey.click(display, journey.centre(program.extents(search)))
        journey.wait_for("two results to tick", lambda: len(ticks(program, False)) >= 2, 40)
        for tick in ticks(program, False)[:2]:
            journey.click(display, journey.centre(program.extents(tick)))
        journey.wait_for("two ticked results", lambda: len(ticks(program, True)) == 2)

        type_into(program, "Or create new play list:", NAME)
        save = journey.find(program.window, pyatspi.ROLE_PUSH_BUTTON, "Save Videos")
        journey.click(display, journey.centre(program.extents(save)))
        # Success is told on the line beside the save button: nothing to click away.
        journey.wait_for("the saved message", lambda: journey.find(
            program.window, pyatspi.ROLE_LABEL, prefix="2 videos added to \"%s\"" % NAME), 30)

        # The ticks are cleared and the new playlist is chosen: ticking a saved
        # video again and saving asks first, and "Skip It" adds nothing.
        journey.wait_for("the ticks cleared", lambda: not ticks(program, True))
        tick = ticks(program, False)[0]
        journey.click(display, journey.centre(program.extents(tick)))
        journey.wait_for("one ticked result", lambda: len(ticks(program, True)) == 1)
        journey.click(display, journey.centre(program.extents(save)))
        skip = journey.wait_for("the question about a video already saved", lambda: journey.find(
            program.application(), pyatspi.ROLE_PUSH_BUTTON, "Skip It"), 30)
        skip.queryAction().doAction(0)
        journey.wait_for("the message after skipping", lambda: journey.find(
            program.window, pyatspi.ROLE_LABEL,
            "0 videos added to \"%s\"; 1 already in it was skipped" % NAME), 30)

        journey.open_tab(program, "Play")
        window = program.window
        # The playlist saved into last is the one shown (a combo box reads as its choice).
        journey.wait_for("the playlist %r shown" % NAME, lambda: journey.find(
            window, pyatspi.ROLE_COMBO_BOX, NAME))
        play = journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Play Video")
        program.press(play, "Play")
        first = journey.wait_for("the now-playing line", lambda: journey.now_playing(window))
        nxt = journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Next Video")
        program.press(nxt, "Next")
        second = journey.wait_for("another video after Next",
                                  lambda: journey.now_playing(window) not in (None, first) and
                                  journey.now_playing(window))
        previous = journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Previous Video")
        program.press(previous, "Previous")
        journey.wait_for("the first video again after Previous (%r)" % first,
                         lambda: journey.now_playing(window) == first)
        stop = journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Stop Video")
        program.press(stop, "Stop")
        program.close_and_wait()
        print("saved two videos into %r by typing; played %r, %r and back" % (NAME, first, second))
        return 0


if __name__ == "__main__":
    sys.exit(main())
