#!/usr/bin/env python3
"""Makes doc/demo-desktop.png: the demo desktop of demo_desktop.py (Xvfb, openbox, four windows)
before and after topleft moves one of them, side by side, from real screens taken with xwd and
joined with ImageMagick's convert.

Usage: scripts/demo_picture.py   (installs what it needs, builds, and rewrites the picture)
"""
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "tests"))
import desktop  # noqa: E402
import demo_desktop  # noqa: E402

TOPLEFT = os.path.join(ROOT, "build-run", "topleft")
FIXTURE = os.path.join(ROOT, "build-run", "tests", "x11", "x_desktop")
PICTURE = os.path.join(ROOT, "doc", "demo-desktop.png")
CHOSEN = "Notes - todo.txt"


def screenshot(env, path):
    with open(path, "wb") as out:
        subprocess.run(["xwd", "-root", "-silent"], env=env, stdout=out, check=True)


def main():
    subprocess.run([os.path.join(ROOT, "scripts", "install-deps"), "picture"], check=True)
    subprocess.run(["cmake", "--preset", "run"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "run"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)

    desk = desktop.XDesktop(FIXTURE, "openbox", 720, 450)
    try:
        windows = demo_desktop.open_windows(desk)
        time.sleep(1)  # openbox draws the frames in its own time
        with tempfile.TemporaryDirectory() as folder:
            before, after = os.path.join(folder, "before.xwd"), os.path.join(folder, "after.xwd")
            screenshot(desk.env, before)

            listing = subprocess.run([TOPLEFT], env=desk.env, input=b"", capture_output=True).stdout
            number = desktop.titles_before_prompt(listing).index(CHOSEN.encode())
            run = subprocess.run([TOPLEFT], env=desk.env, input=b"%d\n" % number, capture_output=True)
            if run.returncode != 0:
                sys.exit(f"topleft failed: {run.stderr.decode()}")
            time.sleep(1)  # openbox redraws the frames in its own time
            screenshot(desk.env, after)

            # Side by side, each framed, with a gap between them.
            subprocess.run(["convert", before, after, "-bordercolor", "#9a9a9a", "-border", "2",
                            "-bordercolor", "white", "-border", "6", "+append", "-strip", PICTURE],
                           check=True)
        print(f"{os.path.relpath(PICTURE, ROOT)}, before and after this session:\n"
              f"{listing.decode()}{number}")
    finally:
        desk.close()


if __name__ == "__main__":
    desktop.run_benchmark(main)
