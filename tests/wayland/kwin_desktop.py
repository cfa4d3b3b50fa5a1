"""A headless KWin (Plasma's Wayland compositor) for the tests and the benchmark: a copy of
kwin_wayland (the installed one carries file capabilities, which this machine will not run; its
name must still end in kwin_wayland) on a virtual output, with XWayland and a private session
bus, in a private runtime folder. This machine's KWin, or a newer one from a Debian root
(tests/debian_root.py) run with bubblewrap, the private folder bound at the same path inside and
out: topleft, the test programs and the session bus stay outside. The tests read windows back on their own: a script of theirs
prints what KWin sees to KWin's standard error, loaded with busctl. Everything is stopped by its
own id."""
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import debian_root  # noqa: E402
import desktop  # noqa: E402

MARK = "topleft-test-oracle "


class KWinDesktop:
    def __init__(self, native_fixture, x_fixture=None, width=1280, height=1024, root=None, outputs=1):
        """outputs: how many virtual outputs of width x height, side by side from (0, 0)."""
        self.root = root
        self.outputs = outputs
        self.folder = tempfile.mkdtemp(prefix="topleft-kwin-")
        os.chmod(self.folder, 0o700)
        self.bus = self.kwin = self.native = self.x = None
        self.scripts = 0
        try:
            self.start(width, height)
            self.native = desktop.Fixture(native_fixture, self.env)
            if x_fixture:
                self.x = desktop.Fixture(x_fixture, self.env)
                self.wait(lambda: self.x.ask("redirect") == "1", "XWayland's window manager")
        except BaseException:
            self.close()
            raise

    def start(self, width, height):
        self.bus, self.address = desktop.start_session_bus(self.folder)
        program = os.path.join(self.folder, "bin", "kwin_wayland")
        os.mkdir(os.path.dirname(program))
        shutil.copy(os.path.join(self.root, "usr/bin/kwin_wayland") if self.root else shutil.which("kwin_wayland"),
                    program)
        inside = debian_root.sandbox(self.root, "--bind", self.folder, self.folder, "--tmpfs", "/run") \
            if self.root else []
        display_file = os.path.join(self.folder, "display")
        announce = os.path.join(self.folder, "announce")
        with open(announce, "w") as out:
            out.write(f"#!/bin/sh\necho \"$DISPLAY\" > {display_file}\n")
        os.chmod(announce, 0o755)
        base = {name: value for name, value in os.environ.items()
                if name not in desktop.SESSION_VARIABLES and name != "DISPLAY"}
        self.log_path = os.path.join(self.folder, "kwin.log")
        self.log = open(self.log_path, "wb")
        self.kwin = subprocess.Popen(
            inside + [program, "--virtual", "--xwayland", "--socket", "topleft-test", "--width", str(width),
             "--height", str(height), "--output-count", str(self.outputs), announce],
            env=dict(base, HOME=self.folder, XDG_RUNTIME_DIR=self.folder,
                     DBUS_SESSION_BUS_ADDRESS=self.address, QT_LOGGING_RULES="js=true"),
            stdout=self.log, stderr=subprocess.STDOUT)

        def ready():
            if not os.path.exists(display_file) or not self.kwin_on_bus():
                return None
            with open(display_file) as announced:
                return announced.read().strip()

        display = self.wait(ready, "KWin")
        self.env = dict(base, XDG_RUNTIME_DIR=self.folder, WAYLAND_DISPLAY="topleft-test",
                        DISPLAY=display, DBUS_SESSION_BUS_ADDRESS=self.address,
                        XDG_SESSION_TYPE="wayland")

    def version(self):
        """The version of the KWin package run, as its Debian status has it."""
        status = os.path.join(self.root or "/", "var/lib/dpkg/status")
        with open(status) as packages:
            for stanza in packages.read().split("\n\n"):
                if stanza.startswith("Package: kwin-wayland\n"):
                    return next(line.split(": ", 1)[1] for line in stanza.splitlines() if line.startswith("Version:"))
        return "unknown"

    def signal_kwin(self, number):
        """Sends a signal to KWin itself: under bubblewrap, the process below it that runs KWin."""
        pid = self.kwin.pid
        if self.root:
            pid = next(child for child, name, _ in desktop.descendants(pid) if name == "kwin_wayland")
        os.kill(pid, number)

    def busctl(self, *arguments):
        return subprocess.run(["busctl", f"--address={self.address}", *arguments],
                              capture_output=True, text=True, timeout=30)

    def kwin_on_bus(self):
        answer = self.busctl("call", "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "NameHasOwner", "s", "org.kde.KWin")
        return answer.stdout.strip() == "b true"

    def wait(self, check, what, seconds=60):
        return desktop.wait_while_running(self.kwin, check, what, seconds)

    def run_script(self, body):
        """Loads, runs and unloads a script of the test's own."""
        self.scripts += 1
        name = f"topleft-test-{self.scripts}"
        path = os.path.join(self.folder, name + ".js")
        with open(path, "w") as out:
            out.write(body)
        loaded = self.busctl("call", "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                             "loadScript", "ss", path, name)
        number = loaded.stdout.split()[1]
        # KWin 6's object for the script, else KWin 5's.
        if self.busctl("call", "org.kde.KWin", f"/Scripting/Script{number}", "org.kde.kwin.Script",
                       "run").returncode != 0:
            self.busctl("call", "org.kde.KWin", f"/{number}", "org.kde.kwin.Script", "run")
        self.busctl("call", "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript", "s", name)
        os.unlink(path)

    def windows(self):
        """What KWin sees: {caption: (x, y, width, height, active, minimised, stacking order,
        maximised)}."""
        self.scripts += 1
        token = f"{MARK}{self.scripts} "
        self.run_script(f"""
var all = workspace.windowList ? workspace.windowList() : workspace.clientList(), seen = [];
for (var i = 0; i < all.length; ++i) {{
    var c = all[i], g = c.frameGeometry, a = workspace.clientArea(KWin.MaximizeArea, c);
    // KWin 5 tells scripts no maximised state: such a window fills the area KWin maximises to.
    var maximised = c.maximizeMode !== undefined ? c.maximizeMode === 3
        : g.x === a.x && g.y === a.y && g.width === a.width && g.height === a.height;
    seen.push([c.caption, Math.round(g.x), Math.round(g.y), Math.round(g.width), Math.round(g.height), c.active,
               c.minimized, c.stackingOrder, maximised]);
}}
print("{token}" + JSON.stringify(seen));
""")

        def printed():
            with open(self.log_path, "rb") as log:
                for line in log.read().decode(errors="replace").splitlines():
                    if token in line:
                        return [json.loads(line.split(token, 1)[1])]  # true even when empty
            return None

        return {entry[0]: tuple(entry[1:]) for entry in self.wait(printed, "the script's answer", 10)[0]}

    def placement_area(self):
        """Where KWin places windows on its first output: (x, y, width, height), its panels left out."""
        self.scripts += 1
        token = f"{MARK}{self.scripts} "
        self.run_script(f"""
var o = workspace.screens ? workspace.screens[0] : 0, a = workspace.clientArea(KWin.PlacementArea, o,
                                                                                workspace.currentDesktop);
print("{token}" + JSON.stringify([a.x, a.y, a.width, a.height]));
""")

        def printed():
            with open(self.log_path, "rb") as log:
                for line in log.read().decode(errors="replace").splitlines():
                    if token in line:
                        return tuple(round(v) for v in json.loads(line.split(token, 1)[1]))
            return None

        return self.wait(printed, "the script's answer", 10)

    def settle(self, seconds=10):
        """Waits until KWin has finished with what it was asked: the same view in two reads."""
        desktop.wait_until_unchanged(self.kwin, self.windows, "a settled desktop", seconds)

    def activate(self, caption):
        """Makes the window the active one, as a click on it does."""
        self.run_script(f"""
var all = workspace.windowList ? workspace.windowList() : workspace.clientList();
for (var i = 0; i < all.length; ++i)
    if (all[i].caption === {json.dumps(caption)}) {{
        if (workspace.activeWindow !== undefined) workspace.activeWindow = all[i]; else workspace.activeClient = all[i];
    }}
""")

    def stage(self, caption, kind):
        """Puts a window in a situation a person makes: on a second virtual desktop, used last there
        ("elsewhere"), kept above the others at the corner ("on top"), maximised, or maximised on
        the second output ("maximised elsewhere")."""
        self.run_script(f"""
var all = workspace.windowList ? workspace.windowList() : workspace.clientList(), c = null;
for (var i = 0; i < all.length; ++i) if (all[i].caption === {json.dumps(caption)}) c = all[i];
var g = c.frameGeometry, kind = {json.dumps(kind)}, six = !!workspace.createDesktop;
if (kind === "maximised") c.setMaximize(true, true);
if (kind === "maximised elsewhere") {{
    var o = workspace.screens ? workspace.screens[1].geometry
                              : workspace.clientArea(KWin.ScreenArea, 1, workspace.currentDesktop);
    c.frameGeometry = {{x: o.x + 100, y: o.y + 100, width: g.width, height: g.height}};
    c.setMaximize(true, true);
}}
if (kind === "on top") {{ c.keepAbove = true; c.frameGeometry = {{x: 0, y: 0, width: g.width, height: g.height}}; }}
if (kind === "elsewhere") {{  // KWin 6 has desktop objects, KWin 5 numbers
    if (six ? workspace.desktops.length < 2 : workspace.desktops < 2) six ? workspace.createDesktop(1, "Two") : workspace.desktops = 2;
    var one = workspace.currentDesktop, two = six ? workspace.desktops[1] : 2;
    six ? c.desktops = [two] : c.desktop = two;
    workspace.currentDesktop = two;
    six ? workspace.activeWindow = c : workspace.activeClient = c;
    workspace.currentDesktop = one;
}}
""")

    def minimise(self, caption):
        self.run_script(f"""
var all = workspace.windowList ? workspace.windowList() : workspace.clientList();
for (var i = 0; i < all.length; ++i) if (all[i].caption === {json.dumps(caption)}) all[i].minimized = true;
""")

    def close(self):
        for fixture in (self.native, self.x):
            if fixture:
                fixture.close()
        if self.kwin:
            desktop.stop(self.kwin)
            self.log.close()
        if self.bus:
            desktop.stop(self.bus)
        shutil.rmtree(self.folder, ignore_errors=True)
