"""Debian roots for the desktops this machine's Debian does not ship (KWin 6, newer GNOME Shells):
made with debootstrap from the archive apt already uses, the packages installed inside with
bubblewrap, cached outside the checkout and reused. A root is complete once it carries a stamp
naming its packages; a half-made one is made anew.

Usage: debian_root.py SUITE     makes the root of SUITE (trixie, forky) if it is not there, and
                                prints its path
"""
import fcntl
import glob
import os
import shutil
import subprocess
import sys

# What each root holds beyond the minimal base: KWin, GNOME Shell and labwc, with what runs them here,
# and wlrctl and grim, which read what labwc tells other programs and shows.
PACKAGES = ["kwin-wayland", "xwayland", "qt6-wayland", "dbus-daemon", "gnome-shell", "gjs", "libglib2.0-bin", "labwc",
            "wlrctl", "grim"]
# Suites whose root may be impossible to make for a while (Debian testing in a transition): a test
# that needs one is then skipped, with the reason, rather than failed.
MOVING_SUITES = ("forky",)
SKIPPED = 77  # the exit status CTest is told means skipped
# debootstrap scripts for suites the installed debootstrap may not know yet: testing is the next
# release, which Debian's unstable script makes as well as any.
SCRIPTS = {"forky": "sid"}


class RootError(Exception):
    """The root could not be made; the text says why."""


def cache_folder():
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(base, "topleft", "debian-roots")


def archive_uri():
    """The Debian archive apt already uses: the first source of the host's own suite (not its
    security archive), from one-line or deb822 sources."""
    codename = ""
    with open("/etc/os-release") as release:
        for line in release:
            if line.startswith("VERSION_CODENAME="):
                codename = line.split("=", 1)[1].strip().strip('"')
    candidates = []
    for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
        if os.path.exists(path):
            with open(path) as sources:
                for line in sources:
                    words = line.split("#", 1)[0].split()
                    if words and words[0] == "deb":
                        words = [w for w in words[1:] if not w.startswith("[")]
                        if len(words) >= 2:
                            candidates.append((words[0], [words[1]]))
    for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
        with open(path) as sources:
            for stanza in sources.read().split("\n\n"):
                fields = {}
                for line in stanza.splitlines():
                    if ":" in line and not line.startswith(("#", " ")):
                        name, value = line.split(":", 1)
                        fields[name.strip().lower()] = value.strip()
                if "deb" in fields.get("types", "").split() and fields.get("uris"):
                    candidates.append((fields["uris"].split()[0], fields.get("suites", "").split()))
    for uri, suites in candidates:
        if codename in suites:
            return uri
    raise RootError(f"no Debian archive for {codename or 'this system'} in apt's sources")


def sandbox(root, *options):
    """The start of a command that runs a program inside the root with bubblewrap: the host's
    devices, a /proc of its own, and what `options` add. The program and all it starts run in a
    process namespace of their own, which ends when bubblewrap ends or whoever started it does:
    nothing started inside outlives the test that started it."""
    return ["bwrap", "--die-with-parent", "--unshare-pid", "--bind", root, "/", "--dev-bind", "/dev", "/dev",
            "--proc", "/proc", *options, "--"]


def inside(root, command, log):
    """Runs a command as root inside the root, with the network and name service of the host."""
    return subprocess.run(
        sandbox(root, "--tmpfs", "/tmp", "--ro-bind", "/etc/resolv.conf", "/etc/resolv.conf",
                "--setenv", "DEBIAN_FRONTEND", "noninteractive") + command,
        stdout=log, stderr=subprocess.STDOUT, check=False).returncode


def make(suite):
    """The path of the complete root of `suite`, made first if need be; RootError says why not."""
    folder = cache_folder()
    os.makedirs(folder, exist_ok=True)
    root = os.path.join(folder, suite)
    stamp = os.path.join(root, ".topleft-packages")
    wanted = " ".join(PACKAGES) + "\n"
    with open(os.path.join(folder, suite + ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # one maker at a time; the others then find it made
        install = ["/bin/sh", "-c", "apt-get update -q && apt-get install -y -q --no-install-recommends "
                   + " ".join(PACKAGES)]
        log_path = os.path.join(folder, suite + ".log")
        if os.path.exists(stamp):
            with open(stamp) as made:
                if made.read() == wanted:
                    return root
            # A root made for fewer packages: the rest go in.
            with open(log_path, "w") as log:
                if inside(root, install, log) != 0:
                    raise RootError(f"the packages of {suite} could not be installed (see {log_path})")
            with open(stamp, "w") as made:
                made.write(wanted)
            return root
        partial = root + ".partial"
        shutil.rmtree(partial, ignore_errors=True)
        with open(log_path, "w") as log:
            command = ["debootstrap", "--variant=minbase", suite, partial, archive_uri()]
            if suite in SCRIPTS:
                command.append(os.path.join("/usr/share/debootstrap/scripts", SCRIPTS[suite]))
            if subprocess.run(command, stdout=log, stderr=subprocess.STDOUT, check=False).returncode != 0:
                raise RootError(f"debootstrap could not make {suite} (see {log_path})")
            if inside(partial, install, log) != 0:
                raise RootError(f"the packages of {suite} could not be installed (see {log_path})")
        # XWayland inside makes its socket there; clients outside reach it by its abstract name.
        os.makedirs(os.path.join(partial, "tmp", ".X11-unix"), exist_ok=True)
        os.chmod(os.path.join(partial, "tmp", ".X11-unix"), 0o1777)
        with open(os.path.join(partial, ".topleft-packages"), "w") as made:
            made.write(wanted)
        shutil.rmtree(root, ignore_errors=True)
        os.rename(partial, root)
        return root


def make_for_test(suite, program):
    """make(suite) for a test; where the root cannot be made, the test ends with the reason: skipped
    for a moving suite, failed for any other."""
    try:
        return make(suite)
    except RootError as error:
        print(f"{program}: {error}", file=sys.stderr)
        sys.exit(SKIPPED if suite in MOVING_SUITES else 1)


if __name__ == "__main__":
    try:
        print(make(sys.argv[1]))
    except RootError as error:
        print(f"debian_root: {error}", file=sys.stderr)
        sys.exit(1)
