#!/usr/bin/env python3
"""A demo desktop for when no display is reachable: Xvfb, openbox and a few titled windows.
Runs topleft there on this terminal, then tells where each window ended up.

Usage: demo_desktop.py TOPLEFT X_DESKTOP
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import desktop  # noqa: E402

TITLES = ["Terminal", "Notes - todo.txt", "Calculator", "Image viewer"]


def main(topleft, fixture_program):
    desk = desktop.XDesktop(fixture_program, "openbox")
    env, ask = desk.env, desk.ask

    try:
        windows = {}
        for i, title in enumerate(TITLES):
            window = ask(f"open {120 + 90 * i} {100 + 70 * i} {360 - 20 * i} {240 - 10 * i} mapped")
            ask(f"title {window} _NET_WM_NAME UTF8_STRING 8 {title.encode().hex()}")
            windows[title] = window
        print(f"Demo desktop on {desk.display} (Xvfb with openbox), {len(TITLES)} windows of ours:")
        sys.stdout.flush()
        status = subprocess.run([topleft], env=env).returncode
        time.sleep(0.3)  # the window manager moves the window in its own time
        print(f"\ntopleft exited with status {status}. The windows now:")
        for title, window in windows.items():
            x, y, width, height, top = ask(f"where {window}").split()
            print(f"  {title:<18} frame at ({x}, {y}), {width}x{height}{', on top' if top == '1' else ''}")
    finally:
        desk.close()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
