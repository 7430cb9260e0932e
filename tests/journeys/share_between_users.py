#!/usr/bin/python3
"""Journey: Ann sends two videos of her playlist through the share service and
gets a share code; Bob, with settings and playlists of his own, types the code,
names a new playlist in the save-shared-videos dialog with real key presses,
and finds the videos on his Play page.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import journey  # noqa: E402


def fill(program, label, text):
    import pyatspi
    edit = journey.wait_for("the field " + label, lambda: journey.find(
        program.window, pyatspi.ROLE_TEXT, label))
    edit.queryEditableText().insertText(0, text, len(text.encode()))


def next_button(program):
    import pyatspi
    return journey.wait_for("Next", lambda: journey.find(program.window, pyatspi.ROLE_PUSH_BUTTON,
                                                         "Next"))


def main():
    status = journey.enter_session(os.path.abspath(__file__), sys.argv[1:])
    if status is not None:
        return status
    import pyatspi
    with journey.World() as world:
        display, service = world.start()
        page = service.search("pattern")

        ann = world.person("ann")
        ann.make_playlist("Road Trip", page)
        ann.start()
        journey.open_tab(ann, "Share")
        combo = journey.wait_for("the playlist to send", lambda: journey.find(
            ann.window, pyatspi.ROLE_COMBO_BOX, "Select a play list to send song from"))
        ann.choose(combo, "Road Trip")
        ann.press(next_button(ann), "Next")
        select_all = journey.wait_for("Select All", lambda: journey.find(
            ann.window, pyatspi.ROLE_PUSH_BUTTON, "Select All"))
        ann.press(select_all, "Select All")
        ann.press(next_button(ann), "Next")
        fill(ann, "Your name:", "Ann")
        fill(ann, "Your e-mail:", "ann@example.org")
        fill(ann, "Recipient name:", "Bob")
        fill(ann, "Recipient e-mail:", "bob@example.org")
        ann.press(next_button(ann), "Next")

        def code():
            edit = journey.find(ann.window, pyatspi.ROLE_TEXT, "Share code:")
            text = edit.queryText().getText(0, -1) if edit else ""
            return text or None
        share_code = journey.wait_for("the share code", code, 40)
        ann.close_and_wait()

        bob = world.person("bob").start()
        journey.open_tab(bob, "Share")
        fill(bob, "Insert a share code", share_code)
        bob.press(next_button(bob), "Next")
        name = journey.wait_for("the save dialog", lambda: journey.find(
            bob.application(), pyatspi.ROLE_TEXT, "Or create new play list:"), 40)
        name.queryEditableText().setTextContents("")
        bob.focus_control(name)
        journey.type_text(display, "Gift Box")
        name.clearCache()
        typed = name.queryText().getText(0, -1)
        if typed != "Gift Box":
            journey.fail("the new playlist's name reads %r after typing 'Gift Box'" % typed)
        save = journey.find(bob.application(), pyatspi.ROLE_PUSH_BUTTON, "Save")
        save.queryAction().doAction(0)
        # Told on the Play page's message line: nothing to click away.
        def told():
            return pyatspi.findDescendant(bob.window, lambda acc: acc.getRole() == pyatspi.ROLE_LABEL
                                          and acc.name.endswith(' added to "Gift Box"'))
        journey.wait_for("the saved message", told, 30)
        # Nothing was chosen on Bob's Play page: the playlist just made is shown
        # there (a combo box reads as its choice).
        journey.wait_for("Gift Box shown", lambda: journey.find(
            bob.window, pyatspi.ROLE_COMBO_BOX, "Gift Box"))
        journey.wait_for("the shared videos in the grid", lambda: journey.find(
            bob.window, pyatspi.ROLE_TABLE_CELL, "Sine Serenade"))
        bob.close_and_wait()
        print("shared with code %s; Bob has the playlist Gift Box" % share_code)
        return 0


if __name__ == "__main__":
    sys.exit(main())
