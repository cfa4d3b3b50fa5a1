"""A headless labwc (Debian 13's, from a Debian root) for the tests and the benchmark, run with
bubblewrap as user 1000 of a user namespace, named in a copy of the root's password file (its
XWayland admits no user without a name), its private runtime folder bound at the same path inside
and out. wlrctl and grim of the root read what labwc tells other programs and shows."""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import debian_root  # noqa: E402
import desktop  # noqa: E402


class LabwcDesktop:
    def __init__(self, root, native_fixture, x_fixture=None):
        self.root = root
        self.folder = tempfile.mkdtemp(prefix="topleft-labwc-")
        os.chmod(self.folder, 0o755)
        self.labwc = self.native = self.x = None
        try:
            self.start()
            self.native = desktop.Fixture(native_fixture, self.env)
            if x_fixture:
                self.x = desktop.Fixture(x_fixture, self.env)
                self.wait(lambda: self.x.ask("redirect") == "1", "XWayland's window manager")
        except BaseException:
            self.close()
            raise

    def start(self):
        passwd = os.path.join(self.folder, "passwd")
        with open(os.path.join(self.root, "etc/passwd")) as names, open(passwd, "w") as out:
            out.write(names.read() + f"tester:x:1000:1000:tester:{self.folder}:/bin/sh\n")
        display_file = os.path.join(self.folder, "display")
        base = {name: value for name, value in os.environ.items()
                if name not in desktop.SESSION_VARIABLES and name != "DISPLAY"}
        self.log = open(os.path.join(self.folder, "labwc.log"), "wb")
        self.labwc = subprocess.Popen(
            # A /tmp of its own, below the private folder: XWayland's lock files, left in the root's
            # by every desktop killed, would use up the display numbers it tries. Clients outside
            # reach it by the abstract name of its socket.
            debian_root.sandbox(self.root, "--unshare-user", "--uid", "1000", "--gid", "1000", "--tmpfs", "/tmp",
                                "--perms", "1777", "--dir", "/tmp/.X11-unix", "--bind", self.folder, self.folder,
                                "--ro-bind", passwd, "/etc/passwd", "--tmpfs", "/run")
            + ["labwc", "-s", f"sh -c 'echo $DISPLAY > {display_file}'"],
            env=dict(base, HOME=self.folder, XDG_RUNTIME_DIR=self.folder, WLR_BACKENDS="headless",
                     WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1"),
            stdout=self.log, stderr=subprocess.STDOUT)

        def ready():
            names = [n for n in os.listdir(self.folder) if n.startswith("wayland-") and not n.endswith(".lock")]
            if not names or not os.path.exists(display_file):
                return None
            with open(display_file) as announced:
                shown = announced.read().strip()
            return (names[0], shown) if shown else None

        wayland, display = self.wait(ready, "labwc")
        self.env = dict(base, XDG_RUNTIME_DIR=self.folder, WAYLAND_DISPLAY=wayland, DISPLAY=display,
                        XDG_SESSION_TYPE="wayland")

    def wait(self, check, what, seconds=60):
        return desktop.wait_while_running(self.labwc, check, what, seconds)

    def tool(self, name, *arguments, cpu=None):
        """Runs a program of the root's here, with the root's own libraries (on that CPU alone)."""
        libraries = ":".join(os.path.join(self.root, path) for path in ("usr/lib/x86_64-linux-gnu",
                                                                       "lib/x86_64-linux-gnu"))
        pinned = ["taskset", "-c", cpu] if cpu else []
        return subprocess.run(pinned + [os.path.join(self.root, "lib64/ld-linux-x86-64.so.2"), "--library-path", libraries,
                               os.path.join(self.root, "usr/bin", name), *arguments],  # str or bytes each
                              env=self.env, capture_output=True, timeout=30)

    def active(self, title):
        """Whether labwc tells other programs that the window of that title (its bytes as labwc has
        them) is the active one, and not minimised."""
        match = b"title:" + title
        return (self.tool("wlrctl", "toplevel", "find", match, "state:active").returncode == 0 and
                self.tool("wlrctl", "toplevel", "find", match, "state:minimized").returncode != 0)

    def where(self, window):
        return tuple(map(int, self.x.ask(f"where {window}").split()))

    def shows(self, window):
        """Whether the screen shows an X window of x_desktop's: its colour just inside its corner."""
        x, y, colour = self.x.ask(f"spot {window}").split()
        shot = self.tool("grim", "-g", f"{x},{y} 1x1", "-t", "ppm", "-").stdout
        return shot[-3:] == bytes.fromhex(colour)

    def signal_labwc(self, number):
        os.kill(next(pid for pid, name, _ in desktop.descendants(self.labwc.pid) if name == "labwc"), number)

    def close(self):
        for fixture in (self.native, self.x):
            if fixture:
                fixture.close()
        if self.labwc:
            desktop.stop(self.labwc)
            self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)
