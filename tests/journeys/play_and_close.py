#!/usr/bin/python3
"""Journey: choose a playlist on the Play page, press Play and see the video
move; expand it and see it move in the larger window, whose caption is just
"Now Playing: " and the title; press Next and see another title, press Stop,
then close the window; the program must end with status 0. Several rounds, each a new start of the program
on the same data folder.

    play_and_close.py [ROUNDS] [--close-while-playing] [--close-expanded]

With --close-while-playing the window is closed while the video plays, as a
person often does (a crash was once seen there); with --close-expanded the
expanded window is closed and the video must come back to the small view
while the program goes on.
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    close_while_playing = "--close-while-playing" in sys.argv
    close_expanded = "--close-expanded" in sys.argv
    rounds = int(args[0]) if args else 3
    status = journey.enter_session(os.path.abspath(__file__), sys.argv[1:])
    if status is not None:
        return status
    import pyatspi
    with journey.World() as world:
        display, service = world.start()
        program = world.person()
        # Videos with moving pictures: a counter and a sweep.
        page = service.search("pattern")
        program.make_playlist("Mix", page)
        for round_ in range(1, rounds + 1):
            program.start()
            window = program.window
            # A list box is named by its choice once it has one: from the
            # second start on, the playlist of the start before is open again.
            chosen = "Play List" if round_ == 1 else "Mix"
            combo = journey.wait_for("the playlist choice %r" % chosen, lambda: journey.find(
                window, pyatspi.ROLE_COMBO_BOX, chosen))
            program.choose(combo, "Mix")
            play = journey.wait_for("the play button", lambda: journey.find(
                window, pyatspi.ROLE_PUSH_BUTTON, "Play Video"))
            program.press(play, "Play")
            first = journey.wait_for("the now-playing line", lambda: journey.now_playing(window))
            player = journey.wait_for("the player", lambda: journey.find_named(window, "Player"))
            if not journey.frames_change(display, program.extents(player)):
                journey.fail("round %d: the video area does not move while %r plays" %
                             (round_, first))
            picture = os.environ.get("SONABOX_JOURNEY_SCREENSHOT")
            if picture and round_ == 1:
                display.grab(program.extents(window)).save(picture)
                print("saved " + picture)
            if not close_while_playing and round_ == 1:
                # Expand: the video moves on in a larger window whose caption is
                # the program's own, nothing appended; closing it brings it back.
                expand = journey.find_named(window, "Expand Video")
                journey.click(display, journey.centre(program.extents(expand)))
                title = first.replace("Now playing: ", "Now Playing: ")
                expanded = journey.wait_for("the expanded window", lambda: program.window_ids(
                    "Now Playing: .*"))
                caption = program.window_name(expanded[0])
                if caption != title:
                    journey.fail("the expanded window's caption reads %r, not %r" % (caption, title))
                view = journey.wait_for("the expanded player", lambda: journey.find_named(
                    program.application(), "Expanded player"))
                if not journey.frames_change(display, program.extents(view)):
                    journey.fail("the expanded window does not show the video moving")
                if close_expanded:
                    if not program.close_other_window("Now Playing: .*"):
                        journey.fail("the expanded window does not close")
                    time.sleep(0.5)
                    if program.process.poll() is not None:
                        journey.fail("closing the expanded window ended the program with status %d"
                                     % program.process.returncode)
                    if not journey.frames_change(display, program.extents(player)):
                        journey.fail("the video does not come back to the small view")
            if not close_while_playing:
                nxt = journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Next Video")
                program.press(nxt, "Next")
                journey.wait_for("another video after Next",
                                 lambda: journey.now_playing(window) not in (None, first))
                stop = journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Stop Video")
                program.press(stop, "Stop")
            program.close_and_wait()
            print("round %d: played %r, closed cleanly" % (round_, first))
        return 0


if __name__ == "__main__":
    sys.exit(main())
