#!/usr/bin/python3
"""Journey: the desktop's media controls through playerctl.

Under a window manager (openbox), as on a desktop. A playlist is open and
nothing plays. playerctl opens the watch address of one of its videos, which
plays at once and is named in the now-playing line; an address of another
site is refused and changes nothing; the address of a video that the
playlist does not hold plays too, and its title follows from the video
service. Loop "Track" is the page's Repeat one,
shuffle on its Shuffle. Paused, next goes on to another video and stays
paused, as the interface asks. The program must end with status 0.
"""
import html
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402


def playerctl(*args, check=True):
    """playerctl on this program's player; its output, stripped."""
    done = subprocess.run(["playerctl", "--player=sonabox"] + list(args), capture_output=True,
                          text=True, timeout=10)
    if check and done.returncode != 0:
        journey.fail("playerctl %s: %s" % (" ".join(args), done.stderr.strip()))
    return done.stdout.strip() if check else done


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
        text = page.decode("utf-8")
        titles = [html.unescape(title) for title in
                  re.findall(r"<media:title type='plain'>(.*?)</media:title>", text)]
        ids = re.findall(r"/watch\?v=([A-Za-z0-9_-]+)", text)
        seconds = [int(s) for s in re.findall(r"<yt:duration seconds='(\d+)'/>", text)]
        if len(ids) < 3 or not len(titles) == len(seconds) == len(ids):
            journey.fail("the demo library gave %d videos" % len(ids))
        # The longest video, so that it still plays while the steps below run.
        chosen = seconds.index(max(seconds))

        program.start()
        window = program.window
        program.open_playlist("Mix")
        journey.wait_for("the player on the session bus",
                         lambda: "sonabox" in subprocess.run(
                             ["playerctl", "--list-all"], capture_output=True,
                             text=True).stdout.split())
        if playerctl("status") != "Stopped":
            journey.fail("something plays before anything was asked for")

        # open: a video of the playlist plays at once.
        address = "http://127.0.0.1:%d/watch?v=%s" % (service.web, ids[chosen])
        playerctl("open", address)
        journey.wait_for("the opened video in the now-playing line",
                         lambda: journey.now_playing(window) == "Now playing: " + titles[chosen])
        journey.wait_for("the desktop to hear it plays", lambda: playerctl("status") == "Playing")
        if playerctl("metadata", "xesam:title") != titles[chosen]:
            journey.fail("the desktop reads another title than %r" % titles[chosen])

        # Another site's address is refused, and nothing changes.
        refused = playerctl("open", "http://example.org/watch?v=%s" % ids[0], check=False)
        if refused.returncode == 0:
            journey.fail("an address of another site was not refused")
        if playerctl("metadata", "xesam:title") != titles[chosen] or playerctl("status") != "Playing":
            journey.fail("an address of another site changed what plays (%s)" % refused.stderr)

        # A video that the playlist does not hold: its title is looked up.
        other = service.search("marathon").decode("utf-8")
        other_id = re.findall(r"/watch\?v=([A-Za-z0-9_-]+)", other)[0]
        other_title = html.unescape(
            re.findall(r"<media:title type='plain'>(.*?)</media:title>", other)[0])
        if other_id in ids:
            journey.fail("the playlist already holds %r" % other_title)
        playerctl("open", "http://127.0.0.1:%d/watch?v=%s" % (service.web, other_id))
        journey.wait_for("the looked-up title in the now-playing line",
                         lambda: journey.now_playing(window) == "Now playing: " + other_title)
        journey.wait_for("the desktop to read the looked-up title",
                         lambda: playerctl("metadata", "xesam:title") == other_title)

        # loop and shuffle are the page's play mode.
        mode = lambda name: journey.find(window, pyatspi.ROLE_COMBO_BOX, name)  # noqa: E731
        playerctl("loop", "Track")
        journey.wait_for("Repeat one on the page", lambda: mode("Repeat one"))
        if playerctl("loop") != "Track":
            journey.fail("loop reads %r after Track" % playerctl("loop"))
        playerctl("shuffle", "On")
        journey.wait_for("Shuffle on the page", lambda: mode("Shuffle"))
        if playerctl("shuffle") != "On" or playerctl("loop") != "Playlist":
            journey.fail("shuffle %r, loop %r after shuffle on" % (
                playerctl("shuffle"), playerctl("loop")))

        # Paused, next goes on to another video and stays paused.
        playerctl("pause")
        journey.wait_for("the pause", lambda: playerctl("status") == "Paused")
        before = playerctl("metadata", "xesam:title")
        playerctl("next")
        journey.wait_for("another video", lambda: playerctl("metadata", "xesam:title") != before)
        after = playerctl("metadata", "xesam:title")
        journey.wait_for("the now-playing line of the next video",
                         lambda: journey.now_playing(window) == "Now playing: " + after)
        if playerctl("status") != "Paused":
            journey.fail("next while paused left the player %s" % playerctl("status"))

        program.close_and_wait()
        print("playerctl opened %r, then %r by address alone; paused, next went on to %r" % (
            titles[chosen], other_title, after))
        return 0


if __name__ == "__main__":
    sys.exit(main())
