#!/usr/bin/env python3
"""A demo desktop for when no display is reachable: Xvfb, openbox and a few titled windows.
Runs topleft there on this terminal, then tells where each window ended up.

Usage: demo_desktop.py TOPLEFT X_DESKTOP
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import desktop  # noqa: E402

# title, position, size, colour; opened in this order, so the last is on top
WINDOWS = [
    ("Terminal", (40, 50), (300, 180), "#2e3440"),
    ("Notes - todo.txt", (300, 160), (300, 200), "#f0c674"),
    ("Calculator", (150, 230), (220, 170), "#81a2be"),
    ("Image viewer", (440, 40), (240, 150), "#b5bd68"),
]


def open_windows(desk):
    """Opens the demo's windows on an XDesktop; returns their ids by title."""
    return {title: desk.open(title.encode(), prop="_NET_WM_NAME", kind="UTF8_STRING", at=at,
                             size=size, extra=colour)
            for title, at, size, colour in WINDOWS}


def main(topleft, fixture_program):
    desk = desktop.XDesktop(fixture_program, "openbox")
    env = desk.env

    try:
        windows = open_windows(desk)
        print(f"Demo desktop on {desk.display} (Xvfb with openbox), {len(windows)} windows of ours:")
        sys.stdout.flush()
        status = subprocess.run([topleft], env=env).returncode
        print(f"\ntopleft exited with status {status}. The windows now:")
        for title, window in windows.items():
            x, y, width, height, top, active = desk.where(window)[:6]
            print(f"  {title:<18} frame at ({x}, {y}), {width}x{height}"
                  f"{', on top' if top else ''}{', active' if active else ''}")
    finally:
        desk.close()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
