#!/usr/bin/python3
"""Journey: the service offers a newer build whose installer is signed with a
key the program does not trust. The person says Yes to the offer; the program
must say that the update could not be verified, never run the installer, and
end with its main window shown. With --then-close the person then closes the
window, and the program must end.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402

QUESTION = "A new update has been found, do you want to download now?"
UNVERIFIED = "The update could not be verified and was not installed."


def box_with(program, text):
    """A message box of the program that shows this text."""
    import pyatspi
    application = program.application()
    if application is None:
        return None
    label = journey.find(application, pyatspi.ROLE_LABEL, text)
    if label is None:
        return None
    box = label
    while box is not None and box.getRole() not in (pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT):
        box = box.parent
    return box


def press_in(box, name):
    import pyatspi
    button = journey.find(box, pyatspi.ROLE_PUSH_BUTTON, name)
    if button is None:
        journey.fail("no %s button in the box" % name)
    button.queryAction().doAction(0)


def main():
    status = journey.enter_session(os.path.abspath(__file__), sys.argv[1:])
    if status is not None:
        return status
    with journey.World() as world:
        marker = os.path.join(world.home, "installer-ran")
        assets = os.path.join(world.home, "assets")
        os.makedirs(assets)
        with open(os.path.join(assets, "Sonabox.run"), "w") as installer:
            installer.write("#!/bin/sh\necho ran > '%s'\n" % marker)
        stranger = os.path.join(world.home, "stranger.pem")
        subprocess.check_call(["openssl", "genpkey", "-algorithm", "ed25519", "-out", stranger],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        world.start(["--latest-build", "41", "--assets", assets, "--update-key", stranger])
        program = world.person().start()
        question = journey.wait_for("the update offer", lambda: box_with(program, QUESTION), 60)
        press_in(question, "Yes")
        told = journey.wait_for("the verification message", lambda: box_with(program, UNVERIFIED),
                                60)
        press_in(told, "OK")
        # The message box has the main window's caption: the window is back
        # once the box has gone and one window with that caption is shown.
        journey.wait_for("the main window back", lambda: box_with(program, UNVERIFIED) is None
                         and len(program.window_ids()) == 1)
        if os.path.exists(marker):
            journey.fail("the unverified installer ran")
        if "--then-close" in sys.argv:
            program.close_and_wait()
        print("the unverified update was refused and said so; the window stayed")
        return 0


if __name__ == "__main__":
    sys.exit(main())
