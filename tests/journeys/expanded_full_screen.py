#!/usr/bin/python3
"""Journey: the expanded video fills the screen and comes back, under a window
manager (openbox), as on a desktop. A long video plays and is expanded; a real
F key press makes the expanded window cover the whole screen; Escape brings it
back to the size it had. The video goes on all along: its position is never
restarted. The program must end with status 0.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402

SCREEN = (0, 0, 1280, 900)


def key(display, name):
    subprocess.check_call(["xdotool", "key", name], env=dict(os.environ, DISPLAY=display.name))


def geometry(display, wid):
    """The window's box on the screen as the X server has it: (x0, y0, x1, y1)."""
    out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(wid)],
                         env=dict(os.environ, DISPLAY=display.name), capture_output=True,
                         text=True).stdout
    fields = dict(line.split("=", 1) for line in out.split() if "=" in line)
    x, y, w, h = (int(fields[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
    return (x, y, x + w, y + h)


def value(slider):
    slider.clearCache()
    return slider.queryValue().currentValue


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
        position = journey.wait_for("the position slider", lambda: journey.find(
            window, pyatspi.ROLE_SLIDER, "Position"))
        journey.wait_for("the video to play", lambda: value(position) >= 1)

        journey.click(display, journey.centre(program.extents(
            journey.find_named(window, "Expand Video"))))
        expanded = journey.wait_for("the expanded window",
                                    lambda: program.window_ids("Now Playing: .*"))[0]
        view = journey.wait_for("the expanded player", lambda: journey.find_named(
            program.application(), "Expanded player"))
        if not journey.frames_change(display, program.extents(view)):
            journey.fail("the expanded window does not show the video moving")
        normal = geometry(display, expanded)
        if normal == SCREEN:
            journey.fail("the expanded window opened covering the screen")

        # F, pressed on the keyboard while the expanded window has the focus.
        subprocess.check_call(["xdotool", "windowactivate", "--sync", str(expanded)],
                              env=dict(os.environ, DISPLAY=display.name))
        before = value(position)
        key(display, "f")
        journey.wait_for("the expanded window to cover the screen",
                         lambda: geometry(display, expanded) == SCREEN)
        if not journey.frames_change(display, SCREEN):
            journey.fail("the video does not move in full screen")
        picture = os.environ.get("SONABOX_JOURNEY_SCREENSHOT")
        if picture:
            display.grab().save(picture)
            print("saved " + picture)
        during = journey.wait_for("the video to go on in full screen",
                                  lambda: value(position) > before and value(position))
        if during > before + 8:
            journey.fail("the position jumped from %s to %s" % (before, during))

        key(display, "Escape")
        journey.wait_for("the expanded window back to %r" % (normal,),
                         lambda: geometry(display, expanded) == normal)
        after = journey.wait_for("the video to go on after full screen",
                                 lambda: value(position) > during and value(position))
        if after > during + 8:
            journey.fail("the position jumped from %s to %s" % (during, after))
        if not journey.frames_change(display, program.extents(view)):
            journey.fail("the video does not move in the expanded window after full screen")

        program.close_and_wait()
        print("full screen and back at %s s, %s s, %s s of the video" % (before, during, after))
        return 0


if __name__ == "__main__":
    sys.exit(main())
