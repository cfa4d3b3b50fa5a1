#!/usr/bin/env python3
"""Times topleft on headless GNOME Shells with 200 native Wayland windows, side by side: this
machine's (43), Debian 13's (48) and Debian testing's, the newer ones from Debian roots
(tests/debian_root.py): the whole run (listing, and the verified move of window 0 through
topleft's Shell extension) and the listing alone, medians of several runs.

Before timing it checks that the shell shows the windows opened and topleft lists them, and every
timed run must end as expected; otherwise it stops with what was missing, exit status 1, and
prints no figure.

Usage: bench_gnome.py [--windows 200] [--topleft PATH] [--native PATH] [--extensions PATH] [--stop-fixture]
(installs what it needs and builds the build-linux tree, unless the programs are given;
--stop-fixture closes the test program, so its windows, before the timing: the check must stop it)
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "wayland"))
sys.path.insert(0, os.path.join(ROOT, "tests"))
import debian_root  # noqa: E402
import desktop  # noqa: E402
import gnome_desktop  # noqa: E402

BUILD = os.path.join(ROOT, "build-linux")
options = argparse.ArgumentParser(description="topleft on GNOME Shell")
options.add_argument("--windows", type=int, default=200)
options.add_argument("--topleft")
options.add_argument("--native")
options.add_argument("--extensions")
options.add_argument("--stop-fixture", action="store_true")
ARGS = options.parse_args()
TOPLEFT = ARGS.topleft or os.path.join(BUILD, "topleft")
NATIVE = ARGS.native or os.path.join(BUILD, "tests", "wayland", "wl_desktop")
EXTENSIONS = ARGS.extensions or os.path.join(BUILD, "gnome-shell")


def timed(name, env, typed, expected):
    start = time.perf_counter()
    run = subprocess.run([TOPLEFT], env=env, input=typed, capture_output=True)
    seconds = time.perf_counter() - start
    desktop.require_exit(name, run.returncode, expected, run.stderr)
    return seconds


def measure(root, label):
    """(version, [whole run, listing alone] medians in seconds) on one GNOME Shell."""
    desk = gnome_desktop.GnomeDesktop(EXTENSIONS, NATIVE, None, root=root)
    try:
        started = time.monotonic()
        desktop.require_reply(desk.native.ask(f"many {ARGS.windows} bench_"))
        print(f"# {label}, GNOME Shell {desk.version()}: {ARGS.windows} native windows "
              f"({time.monotonic() - started:.1f} s to open them)", flush=True)
        if ARGS.stop_fixture:
            desk.native.close()
            desk.native = None
        desk.settle()
        shown = sum(1 for title in desk.windows()[0] if title.startswith("bench_"))
        desktop.require_windows(ARGS.windows, shown, desktop.listed_count(TOPLEFT, desk.env, b"bench_"),
                                "GNOME Shell")
        medians = []
        for name, typed, expected in (("topleft (list, move 0)", b"0\n", 0), ("topleft (list only)", b"x", 1)):
            runs = [timed(name, desk.env, typed, expected) for _ in range(9)]
            medians.append(statistics.median(runs))
            print(f"  {name:<24} median {medians[-1] * 1000:7.1f} ms", flush=True)
        return desk.version(), medians
    finally:
        desk.close()


def main():
    if not (ARGS.topleft and ARGS.native and ARGS.extensions):
        subprocess.run([os.path.join(ROOT, "scripts", "install-deps"), "test"], check=True)
        for step in (["cmake", "--preset", "linux"], ["cmake", "--build", "--preset", "linux"]):
            subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    rows = []
    try:
        for suite, label in ((None, "this machine"), ("trixie", "Debian 13"), ("forky", "Debian testing")):
            try:
                root = debian_root.make(suite) if suite else None
            except debian_root.RootError as error:
                print(f"# {label}: no GNOME Shell to measure: {error}", flush=True)
                continue
            version, (whole, listing) = measure(root, label)
            rows.append((label, version, whole, listing))
    except desktop.SetupError as error:
        print(f"bench_gnome: {error}; no figures", file=sys.stderr)
        sys.exit(1)
    print(f"{'desktop':<16} {'GNOME Shell':<12} {'list, move 0':>13} {'list only':>10}")
    for label, version, whole, listing in rows:
        print(f"{label:<16} {version:<12} {whole * 1000:>10.1f} ms {listing * 1000:>7.1f} ms")


if __name__ == "__main__":
    main()
