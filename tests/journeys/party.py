"""A party: the host turns on the Party switch of the real program (under Xvfb),
whose Play page then shows the guests' address; three guests in three
headless Chromium sessions join (one with a name written as markup) and queue
videos; the program plays them in the fair order, each guest's first before
anyone's second, read from its now-playing line with "queued by NAME"; two
guests vote the playing one away; after the party's videos the playlist goes
on. SONABOX_JOURNEY_SCREENSHOT names a picture of the window to save.

Exits 77 (skipped) when Xvfb, Chromium, its driver or selenium is missing."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402
import party_page  # noqa: E402

MARKUP = "<b>Ann</b>"


def main():
    status = journey.enter_session(__file__, sys.argv[1:])
    if status is not None:
        return status
    for needed in ("/usr/bin/chromium", "/usr/bin/chromedriver"):
        if not os.path.exists(needed):
            print("SKIP: %s is not installed" % needed)
            return journey.SKIP
    import pyatspi
    guests = []
    with journey.World() as world:
        display, service = world.start(["--party"])
        host_home = os.path.join(world.home, "host")
        os.makedirs(os.path.join(host_home, "config/Tarnwell"), exist_ok=True)
        with open(os.path.join(host_home, "config/Tarnwell/Sonabox.ini"), "w") as f:
            f.write(service.settings() + "PartyHostKeyFile=%s\n" %
                    os.path.join(world.home, "server", "party-host.key"))
        program = world.person("host")
        program.make_playlist("Mix", service.search(""))
        program.start()
        window = program.window
        program.open_playlist("Mix")

        switch = journey.wait_for("the Party switch", lambda: journey.find(
            window, pyatspi.ROLE_CHECK_BOX, "Party"))
        program.press(switch, "Party")
        address = journey.wait_for("the guests' address", lambda: journey.find(
            window, pyatspi.ROLE_LABEL, prefix="Guests open http://"))
        url = address.name[len("Guests open "):]
        if not url.endswith("/party"):
            journey.fail("the address shown is " + address.name)

        try:
            names = [MARKUP, "Bob", "Cy"]
            for name in names:
                guest = party_page.Guest(world.home, "http://127.0.0.1:%d/party" % service.web,
                                         "guest%d" % len(guests))
                guests.append(guest)
                guest.join(name)
            ann, bob, cy = guests
            # Ann queues two before the others queue one each.
            queued = [ann.queue("sine"), ann.queue("zebra"), bob.queue("counting"),
                      cy.queue("knock")]
            ann.wait("four entries", lambda: len(ann.up_next()) == 4)
            upcoming = journey.wait_for("Up next in the program", lambda: journey.find(
                window, pyatspi.ROLE_LIST, "Up next") if journey.find(
                window, pyatspi.ROLE_LIST, "Up next") and journey.find(
                window, pyatspi.ROLE_LIST, "Up next").childCount == 4 else None)
            first_item = upcoming.getChildAtIndex(0).name
            if first_item != "%s (queued by %s)" % (queued[0], MARKUP):
                journey.fail("the host's Up next begins with %r" % first_item)
            picture = os.environ.get("SONABOX_JOURNEY_SCREENSHOT")
            if picture:
                display.grab(program.extents(window)).save(picture)
                print("saved " + picture)

            play = journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Play Video")
            program.press(play, "Play")
            first = journey.wait_for("the playlist's video", lambda: journey.now_playing(window))
            nxt = journey.find(window, pyatspi.ROLE_PUSH_BUTTON, "Next Video")
            # Each guest's first before anyone's second, with the names as typed.
            fair = [(queued[0], MARKUP), (queued[2], "Bob"), (queued[3], "Cy")]
            line = first
            for title, name in fair:
                program.press(nxt, "Next")
                expected = "Now playing: %s (queued by %s)" % (title, name)
                line = journey.wait_for(expected, lambda: journey.now_playing(window) == expected
                                        and expected)
            # Two of three guests vote Cy's video away: Ann's second follows.
            for guest in (bob, cy):
                guest.wait("the Skip button", lambda: guest.shown("skip-line") and
                           queued[3] in guest.element("now").text)
                guest.element("skip").click()
            expected = "Now playing: %s (queued by %s)" % (queued[1], MARKUP)
            journey.wait_for(expected, lambda: journey.now_playing(window) == expected)
            # Then the playlist goes on.
            program.press(nxt, "Next")
            journey.wait_for("the playlist again", lambda: journey.now_playing(window) and
                             "queued by" not in journey.now_playing(window))
            print("party: played in fair order, skipped by vote, back to the playlist")
        finally:
            for guest in guests:
                guest.close()
        program.close_and_wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
