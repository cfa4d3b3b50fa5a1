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
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "wayland"))
import gnome_desktop  # noqa: E402
import roots  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tests"))
import desktop  # noqa: E402

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


def measure(root, label):
    desk = gnome_desktop.GnomeDesktop(EXTENSIONS, NATIVE, None, root=root)
    try:
        print(f"# {label}, GNOME Shell {desk.version()}", flush=True)

        def shown():
            desk.settle()
            return desk.windows()[0]

        return desk.version(), roots.time_runs(TOPLEFT, desk, ARGS.windows, shown, "GNOME Shell", ARGS.stop_fixture)
    finally:
        desk.close()


def main():
    if not (ARGS.topleft and ARGS.native and ARGS.extensions):
        roots.build_programs()
    roots.side_by_side("bench_gnome", "GNOME Shell", measure)


if __name__ == "__main__":
    desktop.run_benchmark(main)
