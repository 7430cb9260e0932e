#!/usr/bin/python3
"""Journey through the INSTALLED package (run by scripts/check-package once
the .deb is installed): the server started by the ExecStart line of the
installed user unit, with its options from its configuration file; the
program started by the Exec line of the installed desktop file. A playlist
plays (the video area moves); an M3U file opened through the Exec line, as a
file manager's "Open with" does, is handed to the running program, which asks
which playlist to import into, and is imported; a first start with the file
asks too. Both programs end with status 0.

A user session of systemd is not needed: the unit's command lines are run as
systemd would run them for this user (%h is the home folder); the sandbox of
the unit is checked by systemd-analyze in scripts/check-package.
"""
import configparser
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "journeys"))
import journey  # noqa: E402

DESKTOP_FILE = "/usr/share/applications/sonabox.desktop"
UNIT_FILE = "/usr/share/systemd/user/sonabox-server.service"


def unit_lines(key):
    with open(UNIT_FILE) as f:
        return [line.split("=", 1)[1].strip() for line in f if line.startswith(key + "=")]


def exec_line(files):
    """The desktop file's Exec line with %F given these files."""
    entry = configparser.ConfigParser(interpolation=None)
    entry.optionxform = str
    entry.read(DESKTOP_FILE)
    words = []
    for word in shlex.split(entry["Desktop Entry"]["Exec"]):
        words += files if word == "%F" else [word]
    program = shutil.which(words[0])
    if program != "/usr/bin/sonabox":
        journey.fail("the Exec line starts %r, not the installed program" % program)
    return [program] + words[1:]


class InstalledService:
    """sonabox-server as the user unit starts it, its options in the file."""

    def __init__(self, home, library):
        self.home = home
        self.feed, self.web, self.service = journey.free_ports(3)
        config = os.path.join(home, "config/Tarnwell")
        os.makedirs(config, exist_ok=True)
        with open(os.path.join(config, "sonabox-server.conf"), "w") as f:
            f.write("# written as a person would\nlibrary = %s\nfeed-port = %d\nweb-port = %d\n"
                    "service-port = %d\n" % (library, self.feed, self.web, self.service))
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"))
        env.pop("XDG_DATA_HOME", None)

        def command(line):
            line = line.lstrip("+-")
            return [word.replace("%h", home) for word in shlex.split(line)]
        for line in unit_lines("ExecStartPre"):
            subprocess.check_call(command(line), env=env)
        (start,) = unit_lines("ExecStart")
        self.process = subprocess.Popen(command(start), env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
        # The ports answer while the first scan runs; the journey searches the
        # whole library, so it waits for the scan's summary line.
        finished = re.compile(r"^scan( failed|: \d+ added,)")
        said = []
        for line in self.process.stdout:
            said.append(line)
            if finished.match(line):
                break
        else:
            journey.fail("sonabox-server ended: " + "".join(said))
        if not os.listdir(os.path.join(home, ".local/share/Tarnwell/sonabox-server")):
            journey.fail("the server wrote nothing into the unit's data folder")

    search = journey.Service.search
    settings = journey.Service.settings

    def close(self):
        self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(journey.TIMEOUT)
        if status != 0:
            journey.fail("sonabox-server ended with status %d" % status)


def answer_import(program, choice):
    """Answers the import dialog with `choice`, then reads what was done on the
    Play page's message line."""
    import pyatspi
    into = journey.wait_for("the import question", lambda: journey.find(
        program.application(), pyatspi.ROLE_COMBO_BOX, prefix="A new playlist"))
    if into.name != choice:
        program.choose(into, choice)
    program.press(journey.wait_for("the Import button", lambda: journey.find(
        program.application(), pyatspi.ROLE_PUSH_BUTTON, "Import")), "Import")

    def told(acc):
        try:
            return acc.getRole() == pyatspi.ROLE_LABEL and " imported into " in acc.name
        except Exception:
            return False
    journey.wait_for("the message of what was imported", lambda: (
        program.window.clearCache() or pyatspi.findDescendant(program.window, told)))
    journey.wait_for("the import question to close", lambda: len(program.window_ids()) == 1)


def step(text):
    print("installed package: " + text, flush=True)


def main():
    status = journey.enter_session(os.path.abspath(__file__), sys.argv[1:])
    if status is not None:
        return status
    import pyatspi
    with journey.World() as world:
        world.display = display = journey.Display()
        library = os.environ.get("SONABOX_LIBRARY") or os.path.join(world.home, "library")
        subprocess.check_call([os.path.join(journey.ROOT, "scripts/make-demo-library"), library],
                              stdout=subprocess.DEVNULL)
        world.service = service = InstalledService(world.home, library)
        program = world.person()
        program.cli = "/usr/bin/sonabox-cli"
        program.make_playlist("Mix", service.search("pattern"))

        step("the server answers, started by the unit's command lines")
        # Started as the desktop starts it, with no file: a playlist plays.
        program.program = exec_line([])[0]
        program.start()
        program.open_playlist("Mix")
        play = journey.wait_for("the play button", lambda: journey.find(
            program.window, pyatspi.ROLE_PUSH_BUTTON, "Play Video"))
        program.press(play, "Play")
        journey.wait_for("the now-playing line", lambda: journey.now_playing(program.window))
        player = journey.wait_for("the player", lambda: journey.find_named(program.window, "Player"))
        if not journey.frames_change(display, program.extents(player)):
            journey.fail("the installed program shows no moving video")

        step("a video plays in the program started by the desktop entry")
        # "Open with": the Exec line with the file; the running program takes it.
        m3u = os.path.join(world.home, "Road Trip.m3u")
        with open(m3u, "wb") as f:
            f.write(program.run_cli("export", "Mix", "--format", "m3u"))
        second = subprocess.run(exec_line([m3u]), env=program.env, timeout=journey.TIMEOUT)
        if second.returncode != 0:
            journey.fail("the second start ended with status %d" % second.returncode)
        step("the second start handed the file over and ended")
        answer_import(program, 'A new playlist "Road Trip"')
        names = program.run_cli("list").decode().splitlines()
        if "Road Trip" not in names:
            journey.fail("the opened file was not imported; playlists: %r" % names)
        if program.run_cli("show", "Road Trip").count(b"\n") != program.run_cli(
                "show", "Mix").count(b"\n"):
            journey.fail("the imported playlist differs from the one exported")
        step("the file was imported into a new playlist")
        program.close_and_wait()

        # A first start with the file asks as well; into "Mix" every video is there already.
        program.process = subprocess.Popen(exec_line([m3u]), env=program.env,
                                           stderr=subprocess.DEVNULL)
        program.window = journey.wait_for("the main window", program.frame)
        answer_import(program, "Mix")
        step("a first start with the file asked and imported it")
        program.close_and_wait()
        service.close()
        world.service = None
    print("installed package: the server by its unit's command lines, the program by its desktop "
          "entry, a video played, an M3U file opened and imported")
    return 0


if __name__ == "__main__":
    sys.exit(main())
