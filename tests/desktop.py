"""Shared by the end-to-end tests and the benchmark: a private X server, a window manager on it,
the X test program that opens windows, a session bus, a proxy display, and processes stopped by
their own ids; none of them outlives the test or benchmark that started it."""
import ctypes
import os
import queue
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

# The window managers the X11 tests run under: "none", real ones from Debian, and "refuse", the X
# test program's own manager that refuses every move.
MANAGERS = ("none", "openbox", "fluxbox", "twm", "fvwm", "xfwm4", "icewm", "metacity", "marco", "wmaker", "i3",
            "gnome", "refuse")
# Those that announce EWMH support and keep an active window.
EWMH_MANAGERS = ("openbox", "fluxbox", "fvwm", "xfwm4", "icewm", "metacity", "marco", "wmaker", "i3", "gnome")
# A system bus of a test's own: GNOME Shell stops at start without one.
SYSTEM_BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={path}</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
    <allow user="*"/>
  </policy>
</busconfig>
"""
# What the session a test starts must not inherit from the one it runs in.
SESSION_VARIABLES = ("I3SOCK", "SWAYSOCK", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                     "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "XDG_RUNTIME_DIR")

PROMPT = b"Select window : "
CLOSED = b"topleft: the window closed before it could be moved.\n"


def start_xvfb(width=1280, height=1024, options=()):
    """Starts Xvfb on a free display number; returns (process, display name)."""
    return start_announcing_server(
        ["Xvfb", "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp", "-noreset", *options], "Xvfb")


XORG_DUMMY_CONFIG = """Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 256000
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 4096 2048
        Modes "1280x1024"
    EndSubSection
EndSection
"""


def start_xorg(folder):
    """Starts Xorg with the dummy video driver on a free display number, its configuration and log
    in `folder`: one output, DUMMY0, 1280x1024 at (0, 0), and room for monitors laid out with
    `xrandr --setmonitor` (Xvfb shows one monitor whatever xrandr is told). Returns (process,
    display name)."""
    config = os.path.join(folder, "xorg.conf")
    with open(config, "w") as out:
        out.write(XORG_DUMMY_CONFIG)
    return start_announcing_server(
        ["Xorg", "-config", config, "-noreset", "-nolisten", "tcp", "-logfile", os.path.join(folder, "xorg.log")],
        "Xorg")


def start_announcing_server(command, name):
    """Starts an X server with -displayfd; returns (process, display name)."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(command[:1] + ["-displayfd", str(write_end)] + command[1:], pass_fds=(write_end,),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb") as announcement:
        while not number.endswith(b"\n"):
            chunk = announcement.read(1)
            if not chunk:
                stop(server)
                raise RuntimeError(f"{name} did not announce its display")
            number += chunk
    return server, ":" + number.decode().strip()


# Whatever a process we started leaves behind when it ends (a compositor's XWayland, a window
# manager's helpers) is adopted by this process, not by init: a child subreaper. So every process
# a test or benchmark starts stays below it, where run_tests finds what is still running at the end.
# A SIGTERM (a test stopped) unwinds as an exception does, so every desktop is closed on the way.
PR_SET_CHILD_SUBREAPER = 36
ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
signal.signal(signal.SIGTERM, lambda number, frame: sys.exit(128 + number))


def descendants(pid=None):
    """The processes below this one (or `pid`), each before its own children: [(pid, name,
    command line)], those that have ended left out."""
    found = []
    top = pid or os.getpid()
    for task in os.listdir(f"/proc/{top}/task"):
        try:
            with open(f"/proc/{top}/task/{task}/children") as children:
                for child in map(int, children.read().split()):
                    with open(f"/proc/{child}/stat") as stat:
                        state = stat.read().rsplit(")", 1)[1].split()[0]
                    with open(f"/proc/{child}/comm") as comm:
                        name = comm.read().strip()
                    with open(f"/proc/{child}/cmdline", "rb") as cmdline:
                        command = cmdline.read().replace(b"\0", b" ").decode(errors="replace").strip()
                    if state not in "ZX":
                        found.append((child, name, command))
                    found.extend(descendants(child))
        except (FileNotFoundError, ProcessLookupError):
            continue  # ended meanwhile
    return found


def reap():
    """Reaps the processes below this one that have ended (this process adopts orphans)."""
    while True:
        try:
            if os.waitpid(-1, os.WNOHANG) == (0, 0):
                return
        except ChildProcessError:
            return


def stop_leftovers(grace=3):
    """Waits a moment for what is still ending, then kills every process still running below this
    one and reaps them; returns what they were, [(pid, name, command line)]."""
    deadline = time.monotonic() + grace
    while True:
        reap()
        left = descendants()
        if not left or time.monotonic() > deadline:
            break
        time.sleep(0.05)
    for pid, _, _ in left:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    time.sleep(0.1)
    reap()
    return left


def run_tests(argv=None):
    """unittest.main for a suite, which then fails if it left a process running: each desktop must
    stop everything it started, whatever happened to the tests."""
    program = unittest.main(argv=argv, verbosity=2, exit=False)
    left = stop_leftovers()
    for pid, name, command in left:
        print(f"left running: {pid} {name}: {command}", file=sys.stderr)
    sys.exit(0 if program.result.wasSuccessful() and not left else 1)


def run_benchmark(main):
    """Runs a benchmark's main, then stops whatever it left running, as run_tests does; a benchmark
    that left a process running ends with exit status 1."""
    try:
        main()
    finally:
        left = stop_leftovers()
        for pid, name, command in left:
            print(f"left running: {pid} {name}: {command}", file=sys.stderr)
    if left:
        sys.exit(1)


def stop(process, grace=5, how=signal.SIGTERM):
    """Stops one process we started, by its id, and reaps it."""
    if process.poll() is not None:
        return
    process.send_signal(how)
    try:
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def start_session_bus(folder):
    """Starts a private D-Bus session bus in `folder`, with no services to start on demand;
    returns (process, address)."""
    config = os.path.join(folder, "session-bus.conf")
    with open(config, "w") as out:
        out.write(f"""<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={os.path.join(folder, "session-bus")}</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
""")
    bus = subprocess.Popen(["dbus-daemon", "--nofork", "--config-file", config, "--print-address=1"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    address = bus.stdout.readline().decode().strip()
    bus.stdout.close()
    if not address:
        stop(bus)
        raise RuntimeError("the session bus did not start")
    return bus, address


class SetupError(Exception):
    """The desktop does not show what was set up on it, or a run did not end as it should: nothing
    measured or checked on it would mean anything."""


def listed_count(topleft, env, prefix):
    """How many windows whose title starts with `prefix` topleft lists (given no number)."""
    run = subprocess.run([topleft], env=env, input=b"", capture_output=True, timeout=120)
    if run.returncode != 1 or not run.stdout.endswith(PROMPT):
        raise SetupError(f"topleft did not list the desktop (exit {run.returncode}): "
                         f"{run.stderr.decode(errors='replace').strip()}")
    return sum(1 for title in titles_before_prompt(run.stdout) if title.startswith(prefix))


def require_windows(expected, shown, listed, desktop_name):
    """The desktop's own count of the windows opened and topleft's count are both `expected`."""
    if shown != expected:
        raise SetupError(f"{desktop_name} shows {shown} of the {expected} windows opened")
    if listed != expected:
        raise SetupError(f"topleft lists {listed} of the {expected} windows opened")


def require_exit(name, status, expected, err=b""):
    """A timed run ended as it should, or nothing it measured counts."""
    if status != expected:
        said = err.decode(errors="replace").strip()
        raise SetupError(f"{name} exited {status}, not {expected}" + (f": {said}" if said else ""))


def require_reply(reply, expected="ok"):
    """A test program did what it was asked."""
    if reply != expected:
        raise SetupError(f"the test program answered {reply!r}, not {expected!r}")
    return reply


def start_system_bus(folder):
    """Starts a private D-Bus system bus in `folder`; returns (process, address)."""
    path = os.path.join(folder, "system-bus")
    config = os.path.join(folder, "system-bus.conf")
    with open(config, "w") as out:
        out.write(SYSTEM_BUS_CONFIG.format(path=path))
    bus = subprocess.Popen(["dbus-daemon", "--nofork", "--config-file", config],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return bus, "unix:path=" + path


def gnome_settings(home, extensions=()):
    """GNOME Shell's settings as a key file under `home`, read with GSETTINGS_BACKEND=keyfile: no
    welcome dialog, these extensions enabled."""
    settings = os.path.join(home, ".config", "glib-2.0", "settings")
    os.makedirs(settings, exist_ok=True)
    with open(os.path.join(settings, "keyfile"), "w") as out:
        out.write("[org/gnome/shell]\n"
                  f"enabled-extensions=[{', '.join(repr(e) for e in extensions)}]\n"
                  "disable-user-extensions=false\n"
                  "welcome-dialog-last-shown-version='999'\n")


def read_until(stream, ending, limit=1 << 24):
    """Reads raw bytes from a pipe until they end with `ending` or the pipe closes."""
    data = b""
    while not data.endswith(ending) and len(data) < limit:
        chunk = os.read(stream.fileno(), 65536)
        if not chunk:
            break
        data += chunk
    return data


def listed_titles(listing):
    """The titles of a listing's lines, in order, after checking that they are numbered from 0
    without gaps and that the last one ends with a line feed."""
    lines = listing.split(b"\n")
    assert lines[-1] == b"", lines[-1]
    titles = []
    for number, line in enumerate(lines[:-1]):
        prefix = b"Window[%d]: " % number
        assert line.startswith(prefix), line
        titles.append(line[len(prefix):])
    return titles


def titles_before_prompt(output):
    """The titles of a whole run's standard output: the listing, then the prompt."""
    assert output.endswith(PROMPT), output[-100:]
    return listed_titles(output[:-len(PROMPT)])


def answer(program, env, choose, meanwhile=None, limit=60):
    """Runs the program (or a command) as a user would: reads its listing up to the prompt, then
    types what choose(titles) returns, after calling meanwhile() if given. Returns (titles, typed, exit
    status, what followed the prompt on standard output, standard error). A run that hangs is
    stopped after `limit` seconds and fails."""
    tool = subprocess.Popen([program] if isinstance(program, str) else program, env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    watchdog = threading.Timer(limit, tool.kill)
    watchdog.start()
    try:
        titles = titles_before_prompt(read_until(tool.stdout, PROMPT))
        typed = choose(titles)
        if meanwhile:
            meanwhile()
        out, err = tool.communicate(typed)
    finally:
        watchdog.cancel()
        stop(tool)
    return titles, typed, tool.returncode, out, err


def answer_after_closing(program, env, native):
    """Runs the program, choosing a native window (of wl_desktop) that closes before the answer
    is typed; returns (exit status, what followed the prompt, standard error)."""
    doomed = native.ask(f"open {b'Doomed'.hex()} 200 100")
    _, _, status, out, err = answer(program, env, lambda titles: b"%d\n" % titles.index(b"Doomed"),
                                    lambda: native.ask(f"close {doomed}"))
    return status, out, err


def assert_arguments_answered(case, run):
    """--help and --version answered on standard output, an unknown argument refused in one line
    with exit status 2, each before anything is listed: run(arguments) runs topleft with them,
    typing 0 should it ask, and returns the CompletedProcess."""
    for arguments, status in ((["--help"], 0), (["--version"], 0), (["--frobnicate"], 2)):
        done = run(arguments)
        case.assertEqual(done.returncode, status, arguments)
        case.assertNotIn(b"Window[", done.stdout)
        case.assertFalse(done.stdout.endswith(PROMPT))
        if status == 0:
            case.assertEqual(done.stderr, b"")
            case.assertRegex(done.stdout, rb"^Usage: topleft \[--help \| --version\]\n(.*\n)+$" if
                             arguments == ["--help"] else rb"^topleft [0-9]+\.[0-9]+\.[0-9]+\n$")
        else:
            case.assertEqual(done.stdout, b"")
            case.assertRegex(done.stderr, rb'^topleft: unknown argument "--frobnicate" \(.*--help.*\)\.\n$')


def wait_while_running(process, check, what, seconds=30):
    """Polls check() until it returns something true; fails once `seconds` pass or the process
    ends first. For a desktop starting in its own time."""
    deadline = time.monotonic() + seconds
    while True:
        if process and process.poll() is not None:
            raise RuntimeError(f"{what}: {process.args[0]} has ended")
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            raise RuntimeError(f"{what} did not come")
        time.sleep(0.05)


def wait_until_unchanged(process, read, what, seconds=20):
    """Waits until read() gives the same twice a moment apart: a desktop that has finished laying
    out, placing or showing what it was last asked to. Fails as wait_while_running does."""
    last = [None]

    def unchanged():
        seen = read()
        same, last[0] = seen == last[0], seen
        if not same:
            time.sleep(0.1)
        return same

    wait_while_running(process, unchanged, what, seconds)


def wait_for(check, seconds=20):
    """Polls check() until it returns something true or `seconds` pass; returns its last value.
    For what other programs do in their own time, such as a window manager's move."""
    deadline = time.monotonic() + seconds
    while True:
        value = check()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.05)


def finish(process, grace=10):
    """Ends a test program that stops when its standard input closes; stops it if it does not."""
    process.stdin.close()
    try:
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        stop(process)


class AnswerAfterAPause:
    """A person's answer, one case for every desktop (mixed into each suite's TestCase): the
    listing is read, time passes (longer than any backend keeps what it read), another window is
    raised (a click to see which window a title was) and a new one opens; only then is the number
    typed. The window listed with that number must be the one at the corner, and every other window
    where it was. The suite provides:
      topleft, env           the program and its environment
      pause_windows()        the titles of the window to choose and of one listed below it
      raise_window(title)    brings a window to the top as a click does; returns once it is there
      raised(title)          whether a window is on top, or the active one, as the desktop says
      open_window(title)     opens a window; returns what close_window takes to close it again
                             (by default a native window of the desktop's test program, desk.native)
      pause_places()         {title: (x, y, width, height)} of the windows a move of another must
                             leave where they are, the chosen one among them
      pause_corner()         where the chosen window's visible corner goes
    """
    PAUSE = 0.3  # seconds; the backends answer a question asked again within 0.1 s from memory

    def test_answer_after_a_pause_moves_the_window_listed_with_the_number(self):
        chosen, other = self.pause_windows()
        before, opened = {}, []

        def meanwhile():
            time.sleep(self.PAUSE)
            self.raise_window(other)
            opened.append(self.open_window(b"Opened meanwhile"))
            time.sleep(self.PAUSE)
            before.update(self.pause_places())  # as the desktop is when the number is typed

        try:
            _, _, status, out, err = answer(self.topleft, self.env, lambda titles: b"%d\n" % titles.index(chosen),
                                            meanwhile)
            self.assertEqual((status, out, err), (0, b"", b""))
            after = self.pause_places()
        finally:
            for window in opened:
                self.close_window(window)
        self.assertEqual(after[chosen], self.pause_corner() + before[chosen][2:], "not the window listed")
        for title in before:
            if title != chosen:
                self.assertEqual(after[title], before[title], title)

    def test_window_at_the_corner_under_another_is_raised(self):
        # Once moved, the window is at the corner; a click on another puts that one above it.
        # Choosing it again must bring it back on top, not take the corner for the whole move.
        chosen, other = self.pause_windows()
        for clicked in (None, other):
            if clicked:
                self.raise_window(clicked)
                # A manager may name the window it raised active a moment later (fluxbox).
                self.assertTrue(wait_for(lambda: not self.raised(chosen)), "still on top or active")
            _, _, status, out, err = answer(self.topleft, self.env, lambda titles: b"%d\n" % titles.index(chosen))
            self.assertEqual((status, out, err), (0, b"", b""))
        self.assertEqual(self.pause_places()[chosen][:2], self.pause_corner())
        self.assertTrue(self.raised(chosen))

    def open_window(self, title):
        return self.desk.native.ask(f"open {title.hex()} 200 150")

    def close_window(self, window):
        self.desk.native.ask(f"close {window}")


class SeenAsItIs:
    """Exit 1 only for a failure the user can see, in a desktop as people keep it: mixed into each
    suite's TestCase beside AnswerAfterAPause, whose hooks it uses. The chosen window ends at the
    corner, as large as it was, with exit status 0, though a window on another workspace was used
    last ("elsewhere"), an always-on-top window lies over the corner ("on top"), it takes no focus
    ("no focus"), its dialogs and theirs stay above it ("dialogs") or it is maximised. With a video
    full screen over it ("full screen"; "full screen, no focus" for a window that takes none), the
    run ends with exit status 0 only where the screen shows the window at the corner, and with 1,
    naming the video, only where it does not. The suite provides open_situation(kind, title),
    which opens the window of that title making the situation (and its dialogs, or the video,
    titled "Movie") and returns what close_window takes for each, or raises SkipTest saying why
    the desktop has no such thing; where(title): (x, y, width, height, ...); and shows(title):
    whether the screen shows the window (where it cannot be read, the desktop's own stacking)."""
    # Why a focused window stays under a full-screen one here, on a desktop that keeps it above by
    # design; None where focus brings a window above it.
    FULL_SCREEN_KEPT_ABOVE = None

    def assert_moved_despite(self, kind, title, chosen=None):
        chosen = chosen or title
        opened = self.open_situation(kind, title)
        try:
            before = self.where(chosen)
            _, _, status, out, err = answer(self.topleft, self.env, lambda titles: b"%d\n" % titles.index(chosen))
            self.assertEqual((status, out, err), (0, b"", b""))
            corner = self.pause_corner()
            x, y, width, height = self.where(chosen)[:4]
            # What lies beyond the free space is not seen (a maximised window's border may).
            self.assertEqual((max(x, corner[0]), max(y, corner[1]), width, height), corner + before[2:4])
        finally:
            for window in opened:
                self.close_window(window)

    def test_a_window_on_another_workspace_used_last(self):
        self.assert_moved_despite("elsewhere", b"Used last elsewhere", self.pause_windows()[0])

    def test_an_always_on_top_window_over_the_corner(self):
        self.assert_moved_despite("on top", b"Always on top", self.pause_windows()[0])

    def test_a_window_that_takes_no_focus(self):
        self.assert_moved_despite("no focus", b"Takes no focus")

    def test_a_window_whose_dialog_has_a_dialog(self):
        self.assert_moved_despite("dialogs", b"Has dialogs")

    def test_a_maximised_window(self):
        self.assert_moved_despite("maximised", b"Maximised")

    def assert_seen_or_said(self, kind, title):
        """Returns the exit status, once it is found to agree with the screen."""
        opened = self.open_situation(kind, title)
        try:
            before = self.where(title)
            _, _, status, out, err = answer(self.topleft, self.env, lambda titles: b"%d\n" % titles.index(title))
            shown = self.shows(title)
            if status == 0:
                self.assertEqual((out, err), (b"", b""))
                self.assertEqual(tuple(self.where(title)[:4]), self.pause_corner() + tuple(before[2:4]))
            else:
                self.assertEqual((status, out), (1, b""))
                self.assertRegex(err, rb'^topleft: ".*" (could not be moved: .* kept "Movie" above it|is hidden)\.\n$')
            self.assertEqual(shown, status == 0, err)
            return status
        finally:
            for window in opened:
                self.close_window(window)

    def test_a_video_full_screen_over_a_window_that_takes_the_focus(self):
        status = self.assert_seen_or_said("full screen", b"Under a video")
        if not self.FULL_SCREEN_KEPT_ABOVE:
            self.assertEqual(status, 0, "focused, it comes above the video")

    def test_a_video_full_screen_over_a_window_that_takes_no_focus(self):
        self.assert_seen_or_said("full screen, no focus", b"Under a video")


class OnTwoMonitors:
    """A window maximised on the monitor that does not hold the corner, chosen: it ends maximised on
    the corner's monitor, its corner at the corner, shown, exit status 0. The suite provides
    topleft, shows(title), pause_corner() and either open_maximised_elsewhere(title), where(title)
    and maximised(title), or (a Wayland suite, put before TestCase, whose tearDownClass would hide
    this one's) windows(): {title: (x, y, width, height, ..., maximised at 7)}."""
    env = property(lambda self: self.desk.env)

    @classmethod
    def tearDownClass(cls):
        cls.desk.close()

    def open_maximised_elsewhere(self, title):
        window = self.desk.native.ask(f"open {title.hex()} 320 240")
        self.desk.wait(lambda: title.decode() in self.windows(), "the window")
        self.desk.settle()  # placed first: GNOME Shell keeps a window not yet shown where it shows it
        self.desk.stage(title.decode(), "maximised elsewhere")
        self.desk.settle()
        return window

    def where(self, title):
        return self.windows()[title.decode()][:4]

    def maximised(self, title):
        return self.windows()[title.decode()][7]

    def close_window(self, window):
        self.desk.native.ask(f"close {window}")

    def test_a_window_maximised_on_the_other_monitor(self):
        title = b"Maximised on the other monitor"
        opened = self.open_maximised_elsewhere(title)
        try:
            corner = self.pause_corner()
            self.assertTrue(self.maximised(title))
            self.assertNotEqual(tuple(self.where(title)[:2]), corner, "not on the other monitor")
            _, _, status, out, err = answer(self.topleft, self.env, lambda titles: b"%d\n" % titles.index(title))
            self.assertEqual((status, out, err), (0, b"", b""))
            self.assertTrue(self.maximised(title))
            x, y = self.where(title)[:2]
            # What lies beyond the free space is not seen (a maximised window's border may).
            self.assertEqual((max(x, corner[0]), max(y, corner[1])), corner)
            self.assertTrue(self.shows(title))
        finally:
            self.close_window(opened)


def open_dialogs(open_window, title):
    """A window of that title, a dialog of it, a dialog of that dialog and a dialog of its whole
    application, each opened by open_window(title, x_desktop's options) -> its X id; topmost
    first."""
    main = open_window(title, "leader")
    dialog = open_window(b"Dialog", f"dialog {main}")
    return [open_window(b"Dialog of the application", f"group {main}"),
            open_window(b"Dialog of the dialog", f"dialog {dialog}"), dialog, main]


def seen_in(stacked, name):
    """Whether the window of that name is shown and no window stacked above it and shown lies over
    it, in a desktop's own stacking, topmost first: [(name, (x, y, width, height), shown)]."""
    at = next(i for i, (other, _, _) in enumerate(stacked) if other == name)
    x, y, width, height = stacked[at][1]
    return stacked[at][2] and not any(
        shown and ox < x + width and x < ox + w and oy < y + height and y < oy + h
        for _, (ox, oy, w, h), shown in stacked[:at])


class SeenWithTestPrograms(SeenAsItIs):
    """SeenAsItIs with the test programs' windows: "no focus", "dialogs" and "full screen" X ones
    (desk.x, where XWayland runs), the others native ones (desk.native) that stage(title, kind)
    puts in their situation. The suite keeps its windows in self.native and self.x under
    name(title); settle() waits until the desktop shows just those; LACKING says why a situation is
    skipped; stacked(), the desktop's own stacking, topmost first, [(title, (x, y, width, height),
    shown)], judges what the screen shows."""
    LACKING = {}

    def name(self, title):
        return title

    def open_situation(self, kind, title):
        x_windows = ("no focus", "dialogs", "full screen", "full screen, no focus")
        if kind in self.LACKING or (kind in x_windows and not self.desk.x):
            self.skipTest(self.LACKING.get(kind, "no XWayland runs here"))

        def open_x(title, options, size="300 200"):
            window = self.desk.x.ask(f"open 150 120 {size} mapped {options}")
            self.desk.x.ask(f"title {window} WM_NAME STRING 8 {title.hex()}")
            self.x[self.name(title)] = window
            return window

        if kind == "dialogs":
            opened = [("x", window) for window in open_dialogs(open_x, title)]
        elif kind == "no focus":
            opened = [("x", open_x(title, "nofocus"))]
        elif kind.startswith("full screen"):  # the video over the window, with the focus
            opened = [("x", open_x(title, "nofocus" if kind.endswith("no focus") else ""))]
            self.settle()
            opened.insert(0, ("x", open_x(b"Movie", "fullscreen", "640 360")))
        else:
            opened = [self.desk.native.ask(f"open {title.hex()} 320 240")]
            self.native[self.name(title)] = opened[0]
            self.settle()
            self.stage(title, kind)
        self.settle()
        return opened

    def shows(self, title):
        return seen_in(self.stacked(), self.name(title))

    def close_window(self, window):
        windows, window = (self.x, window[1]) if isinstance(window, tuple) else (self.native, window)
        self.desk.x.ask(f"destroy {window}") if windows is self.x else self.desk.native.ask(f"close {window}")
        for title in [title for title, opened in windows.items() if opened == window]:
            del windows[title]
        self.settle()


class Fixture:
    """A test program that opens windows (tests/x11/x_desktop, tests/wayland/wl_desktop), driven
    one command and one reply line at a time."""

    def __init__(self, program, env):
        self.process = subprocess.Popen([program], env=env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)

    def ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().strip()

    def close(self):
        finish(self.process)
        self.process.stdout.close()


class XDesktop:
    """An X server (Xvfb, or Xorg with the dummy driver), a window manager if asked for, and the X
    test program that opens and inspects windows, in a private home folder."""

    def __init__(self, fixture, manager="none", width=1280, height=1024, manager_options=(),
                 server_options=(), xorg=False):
        self.folder = tempfile.mkdtemp(prefix="topleft-x11-")
        # Xorg's dummy driver where the test lays out monitors of its own; else Xvfb.
        self.xvfb, self.display = start_xorg(self.folder) if xorg else start_xvfb(width, height, server_options)
        self.env = {name: value for name, value in os.environ.items()
                    if name not in SESSION_VARIABLES}
        runtime = os.path.join(self.folder, "runtime")
        os.mkdir(runtime, 0o700)
        self.env.update(DISPLAY=self.display, HOME=self.folder, XDG_RUNTIME_DIR=runtime)
        self.manager_name = manager
        self.started = []  # helper processes, stopped last to first
        self.fixture = None
        try:
            self.fixture = Fixture(fixture, self.env)
            if manager != "none":
                self.start_manager(manager, fixture, manager_options)
        except BaseException:
            self.close()
            raise

    def start_manager(self, manager, fixture, options):
        config = os.path.join(self.folder, "manager.conf")
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if manager == "refuse":
            refusing = subprocess.Popen([fixture, "manager"], env=self.env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE)
            self.started.append(refusing)
            if refusing.stdout.readline() != b"managing\n":
                raise RuntimeError("the refusing manager did not start")
            return
        if manager in ("xfwm4", "metacity", "marco", "gnome"):
            bus, address = start_session_bus(self.folder)
            self.started.append(bus)
            self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        if manager == "gnome":
            bus, address = start_system_bus(self.folder)
            self.started.append(bus)
            self.env["DBUS_SYSTEM_BUS_ADDRESS"] = address
            gnome_settings(self.folder)
            self.env.update(GSETTINGS_BACKEND="keyfile", XDG_CONFIG_HOME=os.path.join(self.folder, ".config"),
                            XDG_SESSION_TYPE="x11")
        commands = {
            "openbox": ["openbox", "--sm-disable", *options],
            "fluxbox": ["fluxbox"],
            "twm": ["twm"],
            # An empty configuration: no modules, no banner.
            "fvwm": ["fvwm", "-f", config],
            "xfwm4": ["xfwm4", "--compositor=off", "--sm-client-disable"],
            "i3": ["i3", "-c", config],
            "icewm": ["icewm", "--config", config],
            "metacity": ["metacity", "--sm-disable"],
            "marco": ["marco", "--sm-disable", "--no-composite"],
            # No dock, clip or session of its own, and its settings left as they are.
            "wmaker": ["wmaker", "--no-dock", "--no-clip", "--no-autolaunch", "--dont-restore", "--static"],
            "gnome": ["gnome-shell", "--x11"],
        }
        with open(config, "w") as out:
            # The first line tells i3 the file is of its fourth version: else it converts it, and adds
            # a bar, whose status program outlives the test.
            out.write("# i3 config file (v4)\nfont pango:monospace 8\n" if manager == "i3" else "")
        manager_env = self.env
        if manager in ("fluxbox", "wmaker"):
            # No wallpaper: fluxbox runs fbsetbg, which, finding no program to set one with,
            # opens a window to say so, and that window takes the focus a moment later; Window
            # Maker's wmsetbg, started with it, has been seen to wait for the server while Window
            # Maker held a grab waiting for it, which stopped the desktop for good.
            tools = os.path.join(self.folder, "bin")
            os.mkdir(tools)
            setter = os.path.join(tools, "fbsetbg" if manager == "fluxbox" else "wmsetbg")
            with open(setter, "w") as out:
                out.write("#!/bin/sh\nexit 0\n")
            os.chmod(setter, 0o755)
            manager_env = dict(self.env, PATH=tools + os.pathsep + self.env.get("PATH", ""))
        self.started.append(subprocess.Popen(commands[manager], env=manager_env, **quiet))
        # Ready once it takes on a window: announcing itself comes earlier.
        deadline = time.monotonic() + 30
        while self.ask("redirect") != "1" or self.ask("probe") != "1":
            if self.started[-1].poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"{manager} did not start")
            time.sleep(0.05)
        if manager == "gnome":
            self.gnome_session_ready()

    def gnome_session_ready(self):
        """GNOME Shell starts in its overview, which holds the focus, and puts its top bar up a
        moment later: a user at work has the overview closed and the bar there."""
        shell = ["busctl", f"--address={self.env['DBUS_SESSION_BUS_ADDRESS']}"]
        overview = ["org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "OverviewActive"]

        def ready():
            subprocess.run(shell + ["set-property", *overview, "b", "false"], capture_output=True)
            closed = subprocess.run(shell + ["get-property", *overview], capture_output=True, text=True).stdout
            area = subprocess.run(["xprop", "-root", "_NET_WORKAREA"], env=self.env, capture_output=True,
                                  text=True).stdout
            return closed.strip() == "b false" and re.match(r".* = 0, [1-9]", area)

        wait_while_running(self.manager, ready, "GNOME Shell's top bar", 30)

    @property
    def manager(self):
        """The window manager's process, or None."""
        return self.started[-1] if self.started else None

    def ask(self, command):
        return self.fixture.ask(command)

    def open(self, title=None, state="mapped", prop="WM_NAME", kind="STRING", extra="",
             at=(150, 120), size=(300, 200)):
        window = self.ask(f"open {at[0]} {at[1]} {size[0]} {size[1]} {state} {extra}")
        if title is not None:
            self.set_title(window, title, prop, kind)
        return window

    def set_title(self, window, title, prop="WM_NAME", kind="STRING", format=8):
        self.ask(f"title {window} {prop} {kind} {format} {title.hex() or '-'}")

    def where(self, window):
        """(x, y, width, height, 1 if on top, 1 if active, 1 if shown) of a window, or None once it
        is gone."""
        reply = self.ask(f"where {window}")
        return None if reply == "gone" else tuple(map(int, reply.split()))

    def close(self):
        if self.fixture:
            self.fixture.close()
        for process in reversed(self.started):
            if process.stdin:
                finish(process)
            elif process.args[0] == "fluxbox":
                stop(process, how=signal.SIGKILL)  # it spends seconds on SIGTERM
            else:
                stop(process)
        stop(self.xvfb)
        shutil.rmtree(self.folder, ignore_errors=True)


class DisplayProxy:
    """A display that forwards to a real one, counts the bytes the server answers and can delay
    every answer: a client's extra time divided by the delay is the number of round trips it
    waited for."""

    def __init__(self, display, delay=0.0):
        self.delay = delay
        self.answered = 0
        self.target = f"/tmp/.X11-unix/X{display.lstrip(':')}"
        self.listener = socket.socket(socket.AF_UNIX)
        number = 900
        while True:
            self.path = f"/tmp/.X11-unix/X{number}"
            try:
                self.listener.bind(self.path)
                break
            except OSError:
                number += 1
        self.display = f":{number}"
        self.listener.listen(4)
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.socket(socket.AF_UNIX)
            server.connect(self.target)
            threading.Thread(target=self.pump, args=(client, server, 0, False), daemon=True).start()
            threading.Thread(target=self.pump, args=(server, client, self.delay, True),
                             daemon=True).start()

    def pump(self, source, sink, delay, answers):
        """Forwards what arrives, each piece `delay` after its arrival: a long answer arriving in
        many pieces is late by one delay, not by one per piece."""
        pieces = queue.Queue()

        def deliver():
            while True:
                arrival, data = pieces.get()
                if data is None:
                    break
                wait = arrival + delay - time.monotonic()
                if wait > 0:
                    time.sleep(wait)
                try:
                    sink.sendall(data)
                except OSError:
                    break
            for end in (source, sink):
                try:
                    end.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

        threading.Thread(target=deliver, daemon=True).start()
        try:
            while True:
                data = source.recv(1 << 16)
                if not data:
                    break
                if answers:
                    self.answered += len(data)
                pieces.put((time.monotonic(), data))
        except OSError:
            pass
        pieces.put((time.monotonic(), None))

    def close(self):
        self.listener.close()
        os.unlink(self.path)
