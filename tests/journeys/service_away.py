#!/usr/bin/python3
"""Journey: the video service goes away while a video plays and comes back.
A playlist plays; the server is stopped and Next pressed: the now-playing line
says that the video service cannot be reached (not that the playlist is at
fault), the program stays on that video and tries no other; the server starts
again on the same ports, and the program plays that video by itself.
"""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402

AWAY = "The video service cannot be reached: "


def restart(service, home):
    """The same server on the same ports, ready once its scan is summed up."""
    log = os.path.join(home, "server-again.log")
    service.process = subprocess.Popen(service.process.args, stdout=open(log, "w"),
                                       stderr=subprocess.STDOUT)
    finished = re.compile(r"^scan( failed|: \d+ added,)", re.M)
    journey.wait_for("the server to start again", lambda: finished.search(
        open(log, encoding="utf-8", errors="replace").read()))


def main():
    status = journey.enter_session(os.path.abspath(__file__), sys.argv[1:])
    if status is not None:
        return status
    import pyatspi
    with journey.World() as world:
        display, service = world.start()
        program = world.person()
        program.make_playlist("Mix", service.search("pattern"))
        program.start()
        window = program.window
        program.open_playlist("Mix")
        program.press(journey.wait_for("the play button", lambda: journey.find(
            window, pyatspi.ROLE_PUSH_BUTTON, "Play Video")), "Play")
        journey.wait_for("the now-playing line", lambda: journey.now_playing(window))

        service.process.terminate()
        service.process.wait(10)
        program.press(journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Next Video"), "Next")
        line = journey.wait_for("the line to say the service cannot be reached", lambda: journey.find(
            window, pyatspi.ROLE_LABEL, prefix=AWAY))
        waiting = line.name
        title = waiting[len(AWAY):-len(" plays as soon as it answers.")]
        time.sleep(4)  # a few tries of the service: no other video is tried meanwhile
        line.clearCache()
        if line.name != waiting:
            journey.fail("while the service was away the line changed to %r" % line.name)
        picture = os.environ.get("SONABOX_JOURNEY_SCREENSHOT")
        if picture:
            display.grab(program.extents(window)).save(picture)

        restart(service, world.home)
        journey.wait_for("%r to play once the service answers" % title,
                         lambda: journey.now_playing(window) == "Now playing: " + title)
        player = journey.wait_for("the player", lambda: journey.find_named(window, "Player"))
        if not journey.frames_change(display, program.extents(player)):
            journey.fail("the video area does not move after the service came back")
        program.close_and_wait()
        print("waited for the service while it was away, then played %r" % title)
        return 0


if __name__ == "__main__":
    sys.exit(main())
