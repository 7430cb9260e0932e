#!/usr/bin/python3
"""Journey: the desktop's media controls and what the program remembers.

Under a window manager (openbox), as on a desktop. The first start opens a
window of a good size for the 1280 x 900 screen, not the designer's 769 x 556.
A playlist is chosen and the program closed; the second start opens at the
same place with that playlist ready. Then the desktop, a client on the
session bus, presses Next through org.mpris.MediaPlayer2.sonabox (which,
stopped, only chooses the video) and Play, and reads the title of the video that plays, which the window shows too; pauses it, moves
it while paused (SetPosition, Seek) and plays on; sets the volume, which the
page's volume control shows; Stop stops it. The
program must end with status 0 each time.
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402

NAME = "org.mpris.MediaPlayer2.sonabox"
PATH = "/org/mpris/MediaPlayer2"
PLAYER = "org.mpris.MediaPlayer2.Player"


class Desktop:
    """The desktop's side of the session bus."""

    def __init__(self):
        from gi.repository import Gio
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)

    def has_player(self):
        from gi.repository import GLib
        reply = self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus", "NameHasOwner",
                                   GLib.Variant("(s)", (NAME,)), None, 0, 5000, None)
        return reply.unpack()[0]

    def press(self, method):
        from gi.repository import Gio
        self.bus.call_sync(NAME, PATH, PLAYER, method, None, None, Gio.DBusCallFlags.NONE, 5000,
                           None)

    def call(self, method, signature, *args):
        from gi.repository import GLib
        self.bus.call_sync(NAME, PATH, PLAYER, method, GLib.Variant(signature, args), None, 0,
                           5000, None)

    def set(self, prop, value):
        from gi.repository import GLib
        self.bus.call_sync(NAME, PATH, "org.freedesktop.DBus.Properties", "Set",
                           GLib.Variant("(ssv)", (PLAYER, prop, value)), None, 0, 5000, None)

    def get(self, prop):
        from gi.repository import GLib
        reply = self.bus.call_sync(NAME, PATH, "org.freedesktop.DBus.Properties", "Get",
                                   GLib.Variant("(ss)", (PLAYER, prop)), None, 0, 5000, None)
        return reply.unpack()[0]


def now_playing(window):
    line = journey.now_playing(window)
    return line[len("Now playing: "):] if line else None


def main():
    status = journey.enter_session(os.path.abspath(__file__), sys.argv[1:])
    if status is not None:
        return status
    import pyatspi
    with journey.World() as world:
        display, service = world.start()
        program = world.person()
        page = service.search("pattern")
        program.make_playlist("Mix", page)

        # First start: sized to the screen, centred; the playlist is chosen.
        program.start()
        first_place = program.extents(program.window)
        x0, y0, x1, y1 = first_place
        if x1 - x0 < 1000 or y1 - y0 < 700:
            journey.fail("the first window is %dx%d on a 1280x900 screen" % (x1 - x0, y1 - y0))
        program.open_playlist("Mix")
        program.close_and_wait()

        # Second start: the playlist is there, and the desktop drives it.
        program.start()
        window = program.window
        # The same place (a window manager's frame does not move it each start).
        if program.extents(window) != first_place:
            journey.fail("the window opened at %r, after %r before" % (
                program.extents(window), first_place))
        # A list box is named by its choice: the playlist of the first start.
        journey.wait_for("the playlist chosen before", lambda: journey.find(
            window, pyatspi.ROLE_COMBO_BOX, "Mix"))
        desktop = Desktop()
        journey.wait_for("the player on the session bus", desktop.has_player)
        journey.wait_for("Next to be offered", lambda: desktop.get("CanGoNext"))
        # Next while stopped chooses the video and stays stopped; Play plays it.
        desktop.press("Next")
        journey.wait_for("a video chosen", lambda: desktop.get("Metadata").get("xesam:title"))
        if desktop.get("PlaybackStatus") != "Stopped":
            journey.fail("Next while stopped started playback")
        desktop.press("Play")
        shown = journey.wait_for("the now-playing line", lambda: now_playing(window))
        title = desktop.get("Metadata").get("xesam:title")
        if title != shown:
            journey.fail("the desktop reads %r while the window shows %r" % (title, shown))
        if desktop.get("PlaybackStatus") != "Playing":
            journey.fail("the desktop does not hear that a video plays")

        # Paused, the video holds still; the desktop moves it while paused.
        journey.wait_for("the player to know the video's length", lambda: desktop.get("CanSeek"))
        desktop.press("Pause")
        journey.wait_for("the pause", lambda: desktop.get("PlaybackStatus") == "Paused")
        # The player's core takes the pause a frame or two after it is asked,
        # and tells the position it stopped at just after.
        time.sleep(0.3)
        held = desktop.get("Position")
        time.sleep(0.6)
        if desktop.get("Position") != held:
            journey.fail("the position moves while paused")
        track = desktop.get("Metadata").get("mpris:trackid")
        desktop.call("SetPosition", "(ox)", track, 2000000)
        journey.wait_for("the position set to 2 s",
                         lambda: abs(desktop.get("Position") - 2000000) < 300000)
        desktop.call("Seek", "(x)", 1000000)
        journey.wait_for("the position moved on by 1 s",
                         lambda: abs(desktop.get("Position") - 3000000) < 300000)
        desktop.press("Play")
        journey.wait_for("playing again", lambda: desktop.get("PlaybackStatus") == "Playing")
        journey.wait_for("the video to move on", lambda: desktop.get("Position") != 3000000 and
                         abs(desktop.get("Position") - 3000000) > 100000)

        # The volume the desktop sets is the one the page shows.
        from gi.repository import GLib
        desktop.set("Volume", GLib.Variant("d", 0.3))
        slider = journey.wait_for("the volume control", lambda: journey.find(
            window, pyatspi.ROLE_SLIDER, "Volume"))
        journey.wait_for("the page's volume at 30", lambda: (
            slider.clearCache() or slider.queryValue().currentValue == 30))

        desktop.press("Stop")
        journey.wait_for("playback to stop", lambda: desktop.get("PlaybackStatus") == "Stopped")
        program.close_and_wait()
        print("the desktop pressed Next and read %r" % title)
        return 0


if __name__ == "__main__":
    sys.exit(main())
