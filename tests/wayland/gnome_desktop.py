"""A headless GNOME Shell for the tests and the benchmark, on Wayland: this machine's (43), or a
newer one from a Debian root (tests/debian_root.py) run with bubblewrap, the private folder bound
at the same path inside and out. It gets what it needs of a session in a private folder: a home,
a runtime folder, a session bus and a system bus of its own, settings in a key file (topleft's
extension enabled), and the extension copied from a build as a user would have it. The tests read
windows back through the extension's own List, with busctl. Everything is stopped by its own id."""
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import debian_root  # noqa: E402
import desktop  # noqa: E402

UUID = "topleft@example.org"
# The tests' own extension, which turns on the shell's Eval so that a test can put windows in the
# situations people make (another workspace, always on top, maximised), which no client may.
STAGING = "staging@topleft.test"
STAGING_SCRIPT = {"40": "function init() {{ return {{enable() {{ {on} }}, disable() {{ {off} }}}}; }}\n",
                  "45": "export default class {{ enable() {{ {on} }} disable() {{ {off} }} }}\n"}


class GnomeDesktop:
    def __init__(self, extensions, native_fixture, x_fixture=None, root=None, enabled=True, monitors=1):
        """extensions: the build's gnome-shell folder, with a folder per generation (40, 45);
        monitors: how many virtual monitors of 1280x800, side by side."""
        self.root = root
        self.monitors = monitors
        self.folder = tempfile.mkdtemp(prefix="topleft-gnome-")
        os.chmod(self.folder, 0o700)
        self.buses = []
        self.shell = self.native = self.x = None
        try:
            self.start(extensions, enabled)
            self.native = desktop.Fixture(native_fixture, self.env)
            if x_fixture:
                self.x = desktop.Fixture(x_fixture, self.env)
        except BaseException:
            self.close()
            raise

    def inside(self):
        return debian_root.sandbox(self.root, "--bind", self.folder, self.folder, "--tmpfs", "/run") \
            if self.root else []

    def version(self):
        run = subprocess.run(self.inside() + ["gnome-shell", "--version"], capture_output=True, text=True)
        return re.search(r"([0-9]+)\.", run.stdout).group(1) if run.returncode == 0 else "?"

    def start(self, extensions, enabled):
        bus, self.address = desktop.start_session_bus(self.folder)
        self.buses.append(bus)
        bus, system_bus = desktop.start_system_bus(self.folder)
        self.buses.append(bus)
        generation = "45" if int(self.version()) >= 45 else "40"
        target = os.path.join(self.folder, ".local/share/gnome-shell/extensions", UUID)
        shutil.copytree(os.path.join(extensions, generation, UUID), target)
        staging = os.path.join(os.path.dirname(target), STAGING)
        os.makedirs(staging)
        with open(os.path.join(staging, "metadata.json"), "w") as out:
            json.dump({"uuid": STAGING, "name": "staging", "description": "tests only",
                       "shell-version": [self.version()]}, out)
        with open(os.path.join(staging, "extension.js"), "w") as out:
            out.write(STAGING_SCRIPT[generation].format(on="global.context.unsafe_mode = true;",
                                                        off="global.context.unsafe_mode = false;"))
        desktop.gnome_settings(self.folder, [UUID, STAGING] if enabled else [STAGING])
        base = {name: value for name, value in os.environ.items()
                if name not in desktop.SESSION_VARIABLES and name != "DISPLAY"}
        self.log_path = os.path.join(self.folder, "shell.log")
        self.log = open(self.log_path, "wb")
        options = ["--headless", "--wayland", *["--virtual-monitor", "1280x800"] * self.monitors,
                   "--wayland-display", "topleft-test"]
        if int(self.version()) >= 45:
            options.append("--no-x11")
        self.shell = subprocess.Popen(
            self.inside() + ["gnome-shell", *options],
            env=dict(base, HOME=self.folder, XDG_RUNTIME_DIR=self.folder, XDG_CONFIG_HOME=self.folder + "/.config",
                     XDG_DATA_HOME=self.folder + "/.local/share", DBUS_SESSION_BUS_ADDRESS=self.address,
                     DBUS_SYSTEM_BUS_ADDRESS=system_bus, GSETTINGS_BACKEND="keyfile",
                     XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="GNOME"),
            stdout=self.log, stderr=subprocess.STDOUT)
        self.wait(lambda: self.on_bus("org.gnome.Shell") and os.path.exists(os.path.join(self.folder, "topleft-test")),
                  "GNOME Shell", 120)
        self.env = dict(base, XDG_RUNTIME_DIR=self.folder, WAYLAND_DISPLAY="topleft-test",
                        DBUS_SESSION_BUS_ADDRESS=self.address, XDG_SESSION_TYPE="wayland")
        if enabled:
            self.wait(lambda: self.busctl("call", "org.gnome.Shell", "/org/topleft/Windows", "org.topleft.Windows",
                                          "List").returncode == 0, "the extension", 60)
        # XWayland's display, where the shell runs one: named in its log, with its authority file.
        def announced():
            with open(self.log_path, "rb") as log:
                found = re.search(rb"Using public X11 display (:[0-9]+)", log.read())
            return found.group(1).decode() if found else None
        if int(self.version()) < 45:
            self.env["DISPLAY"] = self.wait(announced, "XWayland", 60)
            authority = glob.glob(os.path.join(self.folder, ".mutter-Xwaylandauth.*"))
            if authority:
                self.env["XAUTHORITY"] = authority[0]

    def on_bus(self, name):
        answer = self.busctl("call", "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                             "NameHasOwner", "s", name)
        return answer.stdout.strip() == "b true"

    def busctl(self, *arguments):
        return subprocess.run(["busctl", f"--address={self.address}", *arguments],
                              capture_output=True, text=True, timeout=30)

    def wait(self, check, what, seconds=60):
        return desktop.wait_while_running(self.shell, check, what, seconds)

    def windows(self):
        """What the shell sees, through the extension: {title: (x, y, width, height, minimised,
        focused, on top)}, and the monitors [(x, y, width, height, work x, y, width, height)]."""
        answer = self.busctl("--json=short", "call", "org.gnome.Shell", "/org/topleft/Windows",
                             "org.topleft.Windows", "List")
        data = json.loads(answer.stdout)["data"]
        return ({w[1]: tuple(w[2:]) for w in data[0]}, [tuple(m[1:9]) for m in data[1]])

    def activate(self, title):
        """Raises and focuses the window, as a click on it does: the extension's own Move, to
        where the window already is."""
        answer = self.busctl("--json=short", "call", "org.gnome.Shell", "/org/topleft/Windows",
                             "org.topleft.Windows", "List")
        window = next(w for w in json.loads(answer.stdout)["data"][0] if w[1] == title)
        return self.busctl("call", "org.gnome.Shell", "/org/topleft/Windows", "org.topleft.Windows", "Move",
                           "tii", str(window[0]), str(window[2]), str(window[3]))

    def stage(self, title, kind):
        """Puts a window in a situation a person makes: on another workspace, used last there
        ("elsewhere"), always on top at the corner ("on top"), maximised, or maximised on the second
        monitor ("maximised elsewhere")."""
        answer = self.busctl("call", "org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "Eval", "s", f"""
const w = global.get_window_actors().map(a => a.get_meta_window()).find(w => w.get_title() === {json.dumps(title)});
const wm = global.workspace_manager, here = wm.get_active_workspace(), kind = {json.dumps(kind)};
if (kind === "on top") {{
    const area = here.get_work_area_for_monitor(0);
    w.make_above();
    w.move_frame(true, area.x, area.y);
}} else if (kind.startsWith("maximised")) {{
    if (kind === "maximised elsewhere")
        w.move_to_monitor(1);
    try {{ w.maximize(3); }} catch (e) {{ w.maximize(); }}
}} else {{
    if (wm.n_workspaces < 2)
        wm.append_new_workspace(false, global.get_current_time());
    const there = wm.get_workspace_by_index(here.index() === 0 ? 1 : 0);
    w.change_workspace(there);
    there.activate_with_focus(w, global.get_current_time());
    here.activate(global.get_current_time());
}}""")
        assert answer.stdout.startswith("bs true"), (answer.stdout, answer.stderr)

    def settle(self, seconds=20):
        """Waits until the shell has finished placing and showing new windows: the same view in
        two reads a moment apart."""
        desktop.wait_until_unchanged(self.shell, self.windows, "a settled desktop", seconds)

    def disable_extension(self):
        return self.busctl("call", "org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions",
                           "DisableExtension", "s", UUID)

    def close(self):
        for fixture in (self.native, self.x):
            if fixture:
                fixture.close()
        if self.shell:
            desktop.stop(self.shell)
            self.log.close()
        for bus in reversed(self.buses):
            desktop.stop(bus)
        shutil.rmtree(self.folder, ignore_errors=True)
