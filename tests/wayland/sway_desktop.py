"""A headless sway for the tests and the benchmark: started as an unprivileged user of a user
namespace (sway refuses to run as root) in a private runtime folder, with XWayland; its IPC
spoken directly; native windows from wl_desktop, X windows from x_desktop; everything stopped by
its own id."""
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import desktop  # noqa: E402

GET_TREE, RUN_COMMAND = 4, 0


class Ipc:
    """sway's IPC, the i3 protocol: magic, length, type, JSON."""

    def __init__(self, path):
        self.socket = socket.socket(socket.AF_UNIX)
        self.socket.connect(path)

    def ask(self, kind, payload=b""):
        self.socket.sendall(b"i3-ipc" + struct.pack("=II", len(payload), kind) + payload)
        header = self.read(14)
        length, _ = struct.unpack("=II", header[6:])
        # sway passes on an X11 title's bytes as they are, UTF-8 or not.
        return json.loads(self.read(length).decode(errors="replace"))

    def read(self, size):
        data = b""
        while len(data) < size:
            chunk = self.socket.recv(size - len(data))
            if not chunk:
                raise RuntimeError("sway closed its IPC socket")
            data += chunk
        return data

    def close(self):
        self.socket.close()


class SwayDesktop:
    def __init__(self, native_fixture, x_fixture=None, width=1280, height=1024, extra_config="", outputs=None):
        """outputs: [(width, height, x, y)] of headless outputs laid out so; one of width x height
        at (0, 0) when not given."""
        self.folder = tempfile.mkdtemp(prefix="topleft-sway-")
        os.chmod(self.folder, 0o700)
        self.sway = self.ipc = self.native = self.x = None
        try:
            self.start(outputs or [(width, height, 0, 0)], extra_config)
            self.native = desktop.Fixture(native_fixture, self.env)
            if x_fixture:
                self.x = desktop.Fixture(x_fixture, self.env)
                # XWayland's window manager must hold the root before a window is mapped.
                self.wait(lambda: self.x.ask("redirect") == "1", "XWayland's window manager")
        except BaseException:
            self.close()
            raise

    def start(self, outputs, extra_config):
        config = os.path.join(self.folder, "config")
        display_file = os.path.join(self.folder, "display")
        with open(config, "w") as out:
            out.write("xwayland force\n")
            for number, (width, height, x, y) in enumerate(outputs, 1):
                out.write(f"output HEADLESS-{number} resolution {width}x{height} position {x} {y}\n")
            out.write(f"exec echo \"$DISPLAY\" > {display_file}\n{extra_config}")
        base = {name: value for name, value in os.environ.items()
                if name not in desktop.SESSION_VARIABLES and name != "DISPLAY"}
        sway_env = dict(base, HOME=self.folder, XDG_RUNTIME_DIR=self.folder,
                        WLR_BACKENDS="headless", WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1",
                        WLR_HEADLESS_OUTPUTS=str(len(outputs)))
        # unshare runs sway in its own process: its id is sway's.
        self.sway = subprocess.Popen(
            ["unshare", "--user", "--map-user=1000", "--map-group=1000", "sway", "-c", config],
            env=sway_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def ready():
            names = os.listdir(self.folder)
            sockets = [n for n in names if n.startswith("sway-ipc.")]
            waylands = [n for n in names if n.startswith("wayland-") and not n.endswith(".lock")]
            shown = None
            if os.path.exists(display_file):
                with open(display_file) as announced:
                    shown = announced.read().strip()
            return (sockets[0], waylands[0], shown) if sockets and waylands and shown else None

        ipc_name, wayland, display = self.wait(ready, "sway")
        self.env = dict(base, XDG_RUNTIME_DIR=self.folder, WAYLAND_DISPLAY=wayland,
                        SWAYSOCK=os.path.join(self.folder, ipc_name), DISPLAY=display,
                        XDG_SESSION_TYPE="wayland")
        self.ipc = Ipc(self.env["SWAYSOCK"])

    def wait(self, check, what, seconds=30):
        return desktop.wait_while_running(self.sway, check, what, seconds)

    def command(self, text):
        results = self.ipc.ask(RUN_COMMAND, text.encode())
        assert all(result["success"] for result in results), (text, results)

    def tree(self):
        return self.ipc.ask(GET_TREE)

    def settle(self, seconds=10):
        """Waits until sway has finished laying out: the tree the same in two reads a moment
        apart, after a round trip of its own."""
        desktop.wait_until_unchanged(self.sway, self.tree, "a settled desktop", seconds)

    def views(self):
        """Every window: (node, its workspace's name, 1 if it is the highest floating window of
        that workspace)."""
        found = []

        def walk(node, workspace, top):
            if node["type"] == "workspace":
                workspace = node["name"]
            if "shell" in node:
                found.append((node, workspace, top))
            for child in node.get("nodes", []):
                walk(child, workspace, False)
            floating = node.get("floating_nodes", [])
            for i, child in enumerate(floating):
                walk(child, workspace, i == len(floating) - 1)

        walk(self.tree(), None, False)
        return found

    def where(self, app_id=None, window=None):
        """(x, y, width, height, floating, focused, visible, on top, workspace) of a window: the
        corner one sees (title bar and border included), the content's size. None once gone."""
        for node, workspace, top in self.views():
            if (app_id and node.get("app_id") == app_id) or (window and node.get("window") == int(window)):
                rect, content, title = node["rect"], node["window_rect"], node["deco_rect"]
                return (rect["x"], rect["y"] - title["height"], content["width"], content["height"],
                        node["type"] == "floating_con", node["focused"], node["visible"], top, workspace)
        return None

    def close(self):
        for fixture in (self.native, self.x):
            if fixture:
                fixture.close()
        if self.ipc:
            self.ipc.close()
        if self.sway:
            desktop.stop(self.sway)
        shutil.rmtree(self.folder, ignore_errors=True)
