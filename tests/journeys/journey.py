"""What the journeys share: the real sonabox-server on the demo library, the
real program on a private X display (Xvfb with GLX, Mesa's software renderer)
with its own settings and data folders, driven through the accessibility
interface (AT-SPI) and the X server as a person does.

A journey runs inside its own session bus (dbus-run-session), which carries
the accessibility bus. It exits 77 (skipped) only when Xvfb is missing.
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

SKIP = 77
TIMEOUT = 30.0
ROOT = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def enter_session(script, argv):
    """Runs the journey again inside a session bus; returns its exit status."""
    if os.environ.get("SONABOX_JOURNEY_INNER") == "1":
        return None
    if shutil.which("Xvfb") is None:
        print("SKIP: Xvfb is not installed")
        return SKIP
    # A runtime folder of its own: the accessibility bus puts its socket there
    # (without one, in ~/.cache, where journeys running side by side would
    # take each other's bus away).
    runtime = tempfile.mkdtemp(prefix="sonabox-journey-run-")
    env = dict(os.environ, SONABOX_JOURNEY_INNER="1", XDG_RUNTIME_DIR=runtime)
    try:
        return subprocess.call(["dbus-run-session", "--", sys.executable, script] + argv, env=env)
    finally:
        shutil.rmtree(runtime, ignore_errors=True)


def free_ports(count):
    sockets = []
    for _ in range(count):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        sockets.append(s)
    ports = [s.getsockname()[1] for s in sockets]
    for s in sockets:
        s.close()
    return ports


def pump():
    from gi.repository import GLib
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def wait_for(what, probe, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        pump()
        found = probe()
        if found:
            return found
        time.sleep(0.05)
    fail("timed out waiting for " + what)


def find(root, role, name=None, prefix=None):
    import pyatspi

    def match(acc):
        try:
            if acc.getRole() != role or not acc.getState().contains(pyatspi.STATE_SHOWING):
                return False
            if name is not None:
                return acc.name == name
            return prefix is None or acc.name.startswith(prefix)
        except Exception:
            return False
    try:
        return pyatspi.findDescendant(root, match)
    except Exception:
        return None


class Display:
    """A private X server with GLX, so that the video area really renders."""

    def __init__(self):
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x900x24", "-nolisten", "tcp",
             "+extension", "GLX"], pass_fds=(write,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                break
            number += chunk
        os.close(read)
        if not number.strip():
            fail("Xvfb did not start")
        self.name = ":" + number.decode().strip()
        # SONABOX_JOURNEY_WM names a window manager to run on the display (say
        # openbox): windows are then framed, placed and focused as on a desktop.
        manager = os.environ.get("SONABOX_JOURNEY_WM")
        self.manager = None
        if manager:
            self.manager = subprocess.Popen([manager], env=dict(os.environ, DISPLAY=self.name),
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(1)

    def grab(self, box=None):
        from PIL import ImageGrab
        picture = ImageGrab.grab(xdisplay=self.name)
        return picture.crop(box) if box else picture

    def close(self):
        if self.manager:
            self.manager.terminate()
            self.manager.wait(10)
        self.xvfb.terminate()
        self.xvfb.wait(10)


class Service:
    """sonabox-server on the demo library (or on a library the journey made),
    on free ports."""

    def __init__(self, home, extra=(), library=None):
        build = os.environ.get("SONABOX_BUILD", os.path.join(ROOT, "build"))
        if library is None:
            library = os.environ.get("SONABOX_LIBRARY") or os.path.join(home, "library")
            subprocess.check_call([os.path.join(ROOT, "scripts/make-demo-library"), library],
                                  stdout=subprocess.DEVNULL)
        self.feed, self.web, self.service = free_ports(3)
        self.process = subprocess.Popen(
            [os.path.join(build, "server/sonabox-server"), "--library", library, "--data",
             os.path.join(home, "server"), "--feed-port", str(self.feed), "--web-port",
             str(self.web), "--service-port", str(self.service)] + list(extra),
            stdout=open(os.path.join(home, "server.log"), "w"), stderr=subprocess.STDOUT)
        # The ports answer while the first scan runs; a journey searches the
        # whole library, so it waits for the scan's summary line.
        log = os.path.join(home, "server.log")
        finished = re.compile(r"^scan( failed|: \d+ added,)", re.M)
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                break
            with open(log, encoding="utf-8", errors="replace") as text:
                if finished.search(text.read()):
                    return
            time.sleep(0.1)
        fail("sonabox-server did not start and scan its library")

    def search(self, words, count=25):
        """The feed's first page for these words, as the program would get it."""
        return urllib.request.urlopen(
            "http://127.0.0.1:%d/feeds/api/videos?vq=%s&orderby=relevance&start-index=1"
            "&max-results=%d" % (self.feed, urllib.parse.quote(words), count)).read()

    def settings(self):
        return ("[General]\nVideoDataHost=127.0.0.1:%d\nVideoWebHost=127.0.0.1:%d\n"
                "ServiceHost=127.0.0.1:%d\n" % (self.feed, self.web, self.service))

    def close(self):
        self.process.terminate()
        self.process.wait(10)


class Program:
    """The real sonabox with its own settings and data folders."""

    def __init__(self, display, service, home):
        build = os.environ.get("SONABOX_BUILD", os.path.join(ROOT, "build"))
        self.home = home
        os.makedirs(os.path.join(home, "config/Tarnwell"), exist_ok=True)
        ini = os.path.join(home, "config/Tarnwell/Sonabox.ini")
        if not os.path.exists(ini):
            with open(ini, "w") as f:
                f.write(service.settings())
        self.env = dict(os.environ, DISPLAY=display.name, QT_QPA_PLATFORM="xcb",
                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", LIBGL_ALWAYS_SOFTWARE="1",
                        XDG_CONFIG_HOME=os.path.join(home, "config"),
                        XDG_DATA_HOME=os.path.join(home, "data"), XDG_RUNTIME_DIR=home)
        self.cli = os.path.join(build, "tools/sonabox-cli")
        self.program = os.path.join(build, "src/ui/sonabox")
        self.display = display
        self.process = None

    def start(self):
        self.process = subprocess.Popen([self.program], env=self.env, stderr=subprocess.DEVNULL)

        def shown():
            if self.process.poll() is not None:
                fail("the program ended at start with status %d" % self.process.returncode)
            return self.frame()
        self.window = wait_for("the main window", shown)
        return self

    def frame(self, title="Sonabox 1.0.0"):
        import pyatspi
        for application in pyatspi.Registry.getDesktop(0):
            try:
                if application is None or application.get_process_id() != self.process.pid:
                    continue
            except Exception:
                continue
            found = find(application, pyatspi.ROLE_FRAME, title)
            if found:
                return found
        return None

    def choose(self, combo, text):
        """Chooses an item of a list box as a person does: a click opens the
        list, a click on the item chooses it."""
        import pyatspi
        click(self.display, centre(self.extents(combo)))
        item = wait_for("the item " + text, lambda: find(combo, pyatspi.ROLE_LIST_ITEM, text))
        click(self.display, centre(self.extents(item)))
        def chosen():
            combo.clearCache()
            return combo.name == text
        wait_for(text + " chosen", chosen)

    def application(self):
        import pyatspi
        for application in pyatspi.Registry.getDesktop(0):
            try:
                if application is not None and application.get_process_id() == self.process.pid:
                    return application
            except Exception:
                continue
        return None

    def focus_control(self, accessible):
        """Puts the keyboard into a control as a click on it does."""
        click(self.display, centre(self.extents(accessible)))
        time.sleep(0.2)

    def make_playlist(self, name, page):
        """A playlist of the videos of a feed page, made with sonabox-cli."""
        self.run_cli("create", name)
        self.run_cli("add", name, stdin=page)

    def open_playlist(self, name):
        """Chooses the playlist on the Play page, where nothing is chosen yet."""
        import pyatspi
        combo = wait_for("the playlist choice", lambda: find(
            self.window, pyatspi.ROLE_COMBO_BOX, "Play List"))
        self.choose(combo, name)
        return combo

    def run_cli(self, *args, stdin=None):
        return subprocess.run([self.cli] + list(args), env=self.env, input=stdin,
                              capture_output=True, check=True).stdout

    def extents(self, accessible):
        import pyatspi
        x, y, w, h = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return (x, y, x + w, y + h)

    def press(self, accessible, what):
        """Presses a button once the program has enabled it."""
        import pyatspi

        def pressed():
            accessible.clearCache()
            if not accessible.getState().contains(pyatspi.STATE_ENABLED):
                return False
            accessible.queryAction().doAction(0)
            return True
        wait_for(what + " to be enabled", pressed)

    def window_name(self, wid):
        env = dict(os.environ, DISPLAY=self.display.name)
        return subprocess.run(["xdotool", "getwindowname", str(wid)], env=env, capture_output=True,
                              text=True).stdout.rstrip("\n")

    def window_ids(self, title="Sonabox 1.0.0"):
        """The program's shown top-level windows whose caption matches title.
        xdotool joins its conditions with "or" unless told --all."""
        env = dict(os.environ, DISPLAY=self.display.name)
        found = subprocess.run(["xdotool", "search", "--all", "--maxdepth", "2", "--onlyvisible",
                                "--pid", str(self.process.pid), "--name", "^%s$" % title],
                               env=env, capture_output=True, text=True).stdout
        return [int(wid) for wid in found.split()]

    def close_window(self, title="Sonabox 1.0.0"):
        """What the window manager's close button does: WM_DELETE_WINDOW, to the
        one shown window with this caption (a message box may share the main
        window's caption: closing must not guess)."""
        from Xlib import X, display as xdisplay, protocol
        ids = self.window_ids(title)
        if len(ids) != 1:
            fail("%d shown windows named %s; a close must reach exactly one" % (len(ids), title))
        d = xdisplay.Display(self.display.name)
        delete = d.intern_atom("WM_DELETE_WINDOW")
        protocols = d.intern_atom("WM_PROTOCOLS")
        window = d.create_resource_object("window", ids[0])
        event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                             data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(event)
        d.sync()  # the server has the message before the connection goes
        d.close()

    def close_other_window(self, title):
        """Closes another window of the program; true once it is gone."""
        self.close_window(title)
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline and self.window_ids(title):
            time.sleep(0.1)
        return not self.window_ids(title)

    def close_and_wait(self):
        """Closes the window; the program must then end with status 0."""
        self.close_window()
        try:
            status = self.process.wait(TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            fail("the program did not end after its window was closed")
        if status != 0:
            fail("closing ended the program with status %d" % status)


class World:
    """What one journey runs in: a private folder, and once started a display
    and the service; used in a with statement, it ends them and the programs
    made in it (still running ones are killed) however the journey ends."""

    def __init__(self):
        self.home = tempfile.mkdtemp(prefix="sonabox-journey-")
        self.display = self.service = None
        self.programs = []

    def __enter__(self):
        return self

    def start(self, service_args=(), library=None):
        """The display and the service, with these extra service arguments, on
        the demo library or on the given one."""
        self.display = Display()
        self.service = Service(self.home, service_args, library)
        return self.display, self.service

    def person(self, name="user"):
        """The program with settings and data folders of its own."""
        program = Program(self.display, self.service, os.path.join(self.home, name))
        self.programs.append(program)
        return program

    def __exit__(self, *error):
        for program in self.programs:
            if program.process and program.process.poll() is None:
                program.process.kill()
        for part in (self.service, self.display):
            if part:
                part.close()
        shutil.rmtree(self.home, ignore_errors=True)


def find_named(root, name):
    import pyatspi

    def match(acc):
        try:
            return acc.name == name and acc.getState().contains(pyatspi.STATE_SHOWING)
        except Exception:
            return False
    try:
        return pyatspi.findDescendant(root, match)
    except Exception:
        return None


def click(display, point):
    """A real mouse click at a point of the screen."""
    subprocess.check_call(["xdotool", "mousemove", "--sync", str(point[0]), str(point[1]), "click",
                           "1"], env=dict(os.environ, DISPLAY=display.name))


def centre(box):
    return ((box[0] + box[2]) // 2, (box[1] + box[3]) // 2)


def type_text(display, text):
    """Real typing, character by character, into the focused control."""
    subprocess.check_call(["xdotool", "type", "--delay", "60", text],
                          env=dict(os.environ, DISPLAY=display.name))


def now_playing(window):
    """The Play page's now-playing line, "Now playing: <title>", or None."""
    import pyatspi
    label = find(window, pyatspi.ROLE_LABEL, prefix="Now playing: ")
    return label.name if label else None


def open_tab(program, name):
    """Shows a page of the main window by its tab."""
    import pyatspi
    tab = wait_for("the %s tab" % name, lambda: find(program.window, pyatspi.ROLE_PAGE_TAB, name))
    tab.queryAction().doAction(0)


def frames_change(display, box, tries=60):
    """Two grabs of the area a moment apart differ: a video plays there."""
    first = display.grab(box)
    for _ in range(tries):
        time.sleep(0.25)
        if display.grab(box).tobytes() != first.tobytes():
            return True
    return False
