#!/usr/bin/python3
"""Journey: the program starts pointed at addresses where nothing answers (a
search says so); the person opens Settings... from the gear beside the banner,
types the addresses of a server on other ports, presses Test (which says that
each answered) and OK, and the next search finds videos.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402


def key(display, *keys):
    subprocess.check_call(["xdotool", "key", "--delay", "80"] + list(keys),
                          env=dict(os.environ, DISPLAY=display.name))


def search(program, words):
    import pyatspi
    edit = journey.wait_for("the search field", lambda: journey.find(
        program.window, pyatspi.ROLE_TEXT, "Search for new tunes to add"))
    program.focus_control(edit)
    key(program.display, "ctrl+a", "BackSpace")
    journey.type_text(program.display, words)
    key(program.display, "Return")


def main():
    status = journey.enter_session(os.path.abspath(__file__), sys.argv[1:])
    if status is not None:
        return status
    import pyatspi
    with journey.World() as world:
        display, service = world.start()
        program = world.person()
        # Addresses where no server answers: the defaults may be taken on a
        # shared machine, so ports that were free a moment ago.
        nowhere = journey.free_ports(3)
        with open(os.path.join(program.home, "config/Tarnwell/Sonabox.ini"), "w") as f:
            f.write("[General]\nVideoDataHost=127.0.0.1:%d\nVideoWebHost=127.0.0.1:%d\n"
                    "ServiceHost=127.0.0.1:%d\n" % tuple(nowhere))
        program.start()
        window = program.window

        journey.open_tab(program, "Find")
        search(program, "pattern")
        journey.wait_for("the search to say the service cannot be reached", lambda: journey.find(
            window, pyatspi.ROLE_LABEL, "The video service could not be reached."), 40)

        gear = journey.wait_for("the gear", lambda: journey.find_named(
            window, "Settings and updates"))
        journey.click(display, journey.centre(program.extents(gear)))

        def item():
            return pyatspi.findDescendant(program.application(), lambda acc: (
                acc.name == "Settings..." and acc.getState().contains(pyatspi.STATE_SHOWING)))
        journey.click(display, journey.centre(program.extents(
            journey.wait_for("Settings... in its menu", item))))
        dialog = journey.wait_for("the settings dialog", lambda: journey.find(
            program.application(), pyatspi.ROLE_DIALOG, "Settings"))

        addresses = (("Video feed:", service.feed), ("Video web host:", service.web),
                     ("Share and update service:", service.service))
        for label, port in addresses:
            edit = journey.wait_for("the field " + label, lambda: journey.find(
                dialog, pyatspi.ROLE_TEXT, label))
            program.focus_control(edit)
            key(display, "ctrl+a", "BackSpace")
            journey.type_text(display, "127.0.0.1:%d" % port)
        test = journey.find(dialog, pyatspi.ROLE_PUSH_BUTTON, "Test")
        journey.click(display, journey.centre(program.extents(test)))
        said = ("Video feed: answered\nVideo web host: answered\n"
                "Share and update service: answered")
        journey.wait_for("the test to say each answered", lambda: journey.find(
            dialog, pyatspi.ROLE_LABEL, said), 30)
        ok = journey.find(dialog, pyatspi.ROLE_PUSH_BUTTON, "OK")
        journey.click(display, journey.centre(program.extents(ok)))
        journey.wait_for("the dialog to close", lambda: not journey.find(
            program.application(), pyatspi.ROLE_DIALOG, "Settings"))

        search(program, "pattern")
        journey.wait_for("results from the server on ports %d-%d" % (service.feed, service.service),
                         lambda: journey.find(window, pyatspi.ROLE_CHECK_BOX, prefix="Add "), 40)
        program.close_and_wait()
        ini = open(os.path.join(program.home, "config/Tarnwell/Sonabox.ini")).read()
        if "VideoDataHost=127.0.0.1:%d" % service.feed not in ini:
            journey.fail("the settings were not kept: %r" % ini)
        print("pointed the program at the server on ports %d, %d and %d" % (
            service.feed, service.web, service.service))
        return 0


if __name__ == "__main__":
    sys.exit(main())
