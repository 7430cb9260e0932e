#!/usr/bin/python3
"""Journey: three short clips, each one solid colour (none of them black),
play in order one after the other, and the screen never shows a black frame
(nor anything that is not a clip) between two of them: neither in the Play
page's video area nor in the expanded window.

The centre pixel of the video area is read from the X server some hundreds
of times a second. Before the first clip shows, the area is black on purpose
(nothing plays yet); from then on every change of picture must go straight
from one clip's colour to the next clip's. A picture that stands still a
while (a loaded machine) is not a fault here; a black or foreign one is.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402

SECONDS = 3
# Title and colour of each clip (RGB), far from black and from each other.
CLIPS = [("Red clip", (200, 30, 30)), ("Green clip", (30, 180, 30)),
         ("Blue clip", (40, 60, 220))]


def make_library(folder):
    """The three clips, with a tone, titled in their metadata."""
    os.makedirs(folder)
    for title, (r, g, b) in CLIPS:
        colour = "0x%02x%02x%02x" % (r, g, b)
        subprocess.check_call(
            ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
             "color=c=%s:s=320x240:r=25:d=%d" % (colour, SECONDS), "-f", "lavfi", "-i",
             "sine=frequency=440:duration=%d" % SECONDS, "-c:v", "mpeg4", "-q:v", "2",
             "-c:a", "mp2", "-metadata", "title=" + title,
             os.path.join(folder, title.split()[0].lower() + ".mkv")])


def classify(rgb):
    """The clip whose colour this is (its index), "black", or "other"."""
    if max(rgb) < 40:
        return "black"
    for k, (_, colour) in enumerate(CLIPS):
        if sum((a - b) ** 2 for a, b in zip(rgb, colour)) < 50 ** 2:
            return k
    return "other"


class Pixel:
    """One pixel of the screen, read on a connection of its own."""

    def __init__(self, display, point):
        from Xlib import display as xdisplay
        self.connection = xdisplay.Display(display.name)
        self.root = self.connection.screen().root
        self.point = point

    def read(self):
        from Xlib import X
        data = self.root.get_image(self.point[0], self.point[1], 1, 1, X.ZPixmap,
                                   0xFFFFFFFF).data
        return (data[2], data[1], data[0])  # stored blue, green, red

    def close(self):
        self.connection.close()


def watch(display, box, order, changes, where):
    """Reads the centre of box until `changes` changes of clip have been seen
    after the first clip showed there; fails at a black or foreign picture
    between clips, or at a change out of the playlist's order. Returns the
    changes seen."""
    pixel = Pixel(display, journey.centre(box))
    runs = []  # [what, first seen, last seen]
    seen = []
    deadline = time.monotonic() + 20 * SECONDS + journey.TIMEOUT
    try:
        while len(seen) < changes:
            if time.monotonic() > deadline:
                journey.fail("%s: only %d changes of clip in time (%r)" %
                             (where, len(seen), [r[0] for r in runs[-8:]]))
            now = time.monotonic()
            what = classify(pixel.read())
            if runs and runs[-1][0] == what:
                runs[-1][2] = now
            elif runs or isinstance(what, int):  # nothing counts before the first clip
                runs.append([what, now, now])
                clips = [r for r in runs if isinstance(r[0], int)]
                if isinstance(what, int) and len(clips) >= 2:
                    before = clips[-2]
                    between = runs[runs.index(before) + 1:-1]
                    if between:
                        journey.fail("%s: %s for %.0f ms between %s and %s" % (
                            where, " then ".join(str(r[0]) for r in between),
                            1000 * (between[-1][2] - between[0][1]), CLIPS[before[0]][0],
                            CLIPS[what][0]))
                    if order.index(what) != (order.index(before[0]) + 1) % len(order):
                        journey.fail("%s: %s followed %s, out of the playlist's order" %
                                     (where, CLIPS[what][0], CLIPS[before[0]][0]))
                    seen.append("%s to %s" % (CLIPS[before[0]][0], CLIPS[what][0]))
            time.sleep(0.001)
    finally:
        pixel.close()
    return seen


def main():
    status = journey.enter_session(os.path.abspath(__file__), sys.argv[1:])
    if status is not None:
        return status
    import pyatspi
    with journey.World() as world:
        library = os.path.join(world.home, "colours")
        make_library(library)
        display, service = world.start(library=library)
        program = world.person()
        page = service.search("clip")
        # The playlist's order is the feed's.
        titles = [t for t, _ in CLIPS]
        order = sorted(range(len(CLIPS)), key=lambda k: page.index(titles[k].encode()))
        program.make_playlist("Colours", page)
        with open(os.path.join(program.home, "config/Tarnwell/Sonabox.ini"), "a") as ini:
            ini.write("playMode=In order\n")
        program.start()
        window = program.window
        program.open_playlist("Colours")
        player = journey.wait_for("the player", lambda: journey.find_named(window, "Player"))
        box = program.extents(player)
        program.press(journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Play Video"), "Play")
        # The three clips and back to the first.
        small = watch(display, box, order, 3, "the Play page")

        # The expanded window opens over the page's video area, and until it
        # has drawn itself the screen there still shows what the page showed:
        # were that a clip, the window's own black before its first frame
        # would look like black between two clips. So it opens once the page
        # is stopped and its video area black, and plays from there.
        program.press(journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Stop Video"), "Stop")
        journey.wait_for("the page's video area to be black after Stop",
                         lambda: max(c[1] for c in display.grab(box).getextrema()) < 40)
        journey.click(display, journey.centre(program.extents(
            journey.find_named(window, "Expand Video"))))
        journey.wait_for("the expanded window",
                         lambda: program.window_ids("(Currently|Now) Playing: .*"))
        view = journey.wait_for("the expanded player", lambda: journey.find_named(
            program.application(), "Expanded player"))
        program.press(journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Play Video"), "Play")
        expanded = watch(display, program.extents(view), order, 3, "the expanded window")

        program.close_and_wait()
        for where, changes in (("Play page", small), ("expanded window", expanded)):
            print("%s: %s, no black frame" % (where, ", ".join(changes)))
        return 0


if __name__ == "__main__":
    sys.exit(main())
