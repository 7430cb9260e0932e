#!/usr/bin/python3
"""Journey: the controls under the video, by mouse and by key. A playlist of
one long video plays; Pause holds the position and the picture, and resumes;
the search field keeps its Space while the grid gives Space to play/pause;
Right seeks, Down and M set the volume and the mute, "Even out loudness" is
ticked; the expanded window goes on where the video was. Started again, the program has kept the volume, the
mute and the loudness choice.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402


def key(display, name):
    subprocess.check_call(["xdotool", "key", name], env=dict(os.environ, DISPLAY=display.name))
    time.sleep(0.3)


def value(slider):
    slider.clearCache()
    return slider.queryValue().currentValue


def checked(control):
    import pyatspi
    control.clearCache()
    return control.getState().contains(pyatspi.STATE_CHECKED)


def moves(slider, seconds=2.5):
    """The position slider goes on within the time."""
    start = value(slider)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        journey.pump()
        if value(slider) != start:
            return True
        time.sleep(0.1)
    return False


def main():
    status = journey.enter_session(os.path.abspath(__file__), sys.argv[1:])
    if status is not None:
        return status
    import pyatspi
    with journey.World() as world:
        display, service = world.start()
        program = world.person()
        page = service.search("marathon")
        program.make_playlist("Long", page)
        program.start()
        window = program.window
        program.open_playlist("Long")
        program.press(journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Play Video"), "Play")
        journey.wait_for("the now-playing line", lambda: journey.find(
            window, pyatspi.ROLE_LABEL, prefix="Now playing: "))
        position = journey.wait_for("the position slider", lambda: journey.find(
            window, pyatspi.ROLE_SLIDER, "Position"))
        if not moves(position, 10):
            journey.fail("the position does not move while the video plays")

        # Pause by mouse holds the position and the picture; a second press resumes.
        pause = journey.find_named(window, "Pause")
        if pause is None:
            journey.fail("no Pause button")
        program.press(pause, "Pause")
        journey.wait_for("Pause to be checked", lambda: checked(pause))
        time.sleep(0.5)
        player = journey.find_named(window, "Player")
        if moves(position):
            journey.fail("the position goes on while paused")
        if journey.frames_change(display, program.extents(player), tries=6):
            journey.fail("the picture goes on while paused")
        program.press(pause, "Resume")
        journey.wait_for("Pause to be let go", lambda: not checked(pause))
        if not moves(position):
            journey.fail("the video does not go on after Resume")

        # Space in the playlist's search field is a space, not a pause.
        search = journey.find(window, pyatspi.ROLE_TEXT, "Search Play List")
        program.focus_control(search)
        journey.type_text(display, "x y")
        search.clearCache()
        text = search.queryText().getText(0, -1)
        if text != "x y" or checked(pause):
            journey.fail("Space in the search field: text %r, paused %s" % (text, checked(pause)))
        key(display, "ctrl+a")
        key(display, "BackSpace")

        # In the grid, Space pauses and resumes, and Enter plays the row again.
        grid = journey.find(window, pyatspi.ROLE_TABLE, "Play list videos")
        program.focus_control(grid)
        key(display, "space")
        journey.wait_for("Space to pause", lambda: checked(pause))
        key(display, "space")
        journey.wait_for("Space to resume", lambda: not checked(pause))
        journey.wait_for("some seconds played", lambda: value(position) >= 3)
        key(display, "Return")
        journey.wait_for("Enter to play the row from its start", lambda: value(position) < 3,
                         timeout=5)

        # A click on the video area leaves the keys to the player: Right seeks,
        # Down and M set the sound.
        program.focus_control(journey.find(window, pyatspi.ROLE_LABEL, prefix="Now playing: "))
        before = value(position)
        key(display, "Right")
        journey.wait_for("Right to seek five seconds on", lambda: value(position) >= before + 4,
                         timeout=2.5)
        volume = journey.find(window, pyatspi.ROLE_SLIDER, "Volume")
        key(display, "Down")
        journey.wait_for("Down to lower the volume", lambda: value(volume) == 95)
        mute = journey.find_named(window, "Mute")
        key(display, "m")
        journey.wait_for("M to mute", lambda: checked(mute))
        loudness = journey.find(window, pyatspi.ROLE_CHECK_BOX, "Even out loudness")
        journey.click(display, journey.centre(program.extents(loudness)))
        journey.wait_for("Even out loudness to be ticked", lambda: checked(loudness))

        # The expanded window goes on where the video was (full screen has a
        # journey of its own).
        at = value(position)
        journey.click(display, journey.centre(program.extents(
            journey.find_named(window, "Expand Video"))))
        journey.wait_for("the expanded window", lambda: program.window_ids("Now Playing: .*"))
        journey.wait_for("the video to go on in the expanded window",
                         lambda: value(position) > at)
        if value(position) > at + 4:
            journey.fail("the position jumped from %s to %s" % (at, value(position)))

        program.close_and_wait()

        # Started again: the sound is as it was left.
        program.start()
        window = program.window
        volume = journey.wait_for("the volume", lambda: journey.find(
            window, pyatspi.ROLE_SLIDER, "Volume"))
        mute = journey.find_named(window, "Mute")
        loudness = journey.find(window, pyatspi.ROLE_CHECK_BOX, "Even out loudness")
        if value(volume) != 95 or not checked(mute) or not checked(loudness):
            journey.fail("not remembered: volume %s, muted %s, loudness %s" %
                         (value(volume), checked(mute), checked(loudness)))
        program.close_and_wait()
        print("paused, resumed, sought, sound set and remembered, expanded")
        return 0


if __name__ == "__main__":
    sys.exit(main())
