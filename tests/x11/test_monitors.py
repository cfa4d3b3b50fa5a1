#!/usr/bin/env python3
"""The corner on an X server of several monitors (Xorg with the dummy driver, monitors laid out
with xrandr): the desktop's (0, 0) where a monitor shows it; where none does, the corner of the
primary monitor, or with none named, of the monitor whose corner is nearest (0, 0).

Usage: test_monitors.py TOPLEFT X_DESKTOP MANAGER
"""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import desktop  # noqa: E402

TOPLEFT = FIXTURE = MANAGER = None

# A screen beside a laptop placed lower: no monitor shows (0, 0) (the layout of the issue that
# found it). DUMMY0, the one real output, backs the left monitor.
LOW_LEFT = "1280/339x1024/271+0+276"
RIGHT = "1920/500x1080/300+1280+0"


class CornerOfSeveralMonitors(unittest.TestCase, desktop.OnTwoMonitors):
    @classmethod
    def setUpClass(cls):
        cls.desk = desktop.XDesktop(FIXTURE, MANAGER, xorg=True)
        cls.xrandr("--fb", "3200x1300")

    @classmethod
    def tearDownClass(cls):
        cls.desk.close()

    @classmethod
    def xrandr(cls, *arguments):
        subprocess.run(["xrandr", *arguments], env=cls.desk.env, check=True, capture_output=True)

    def lay_out(self, *monitors):
        """Replaces the monitors with these (name, geometry, output); a name starting with "*" is
        the primary monitor."""
        listed = subprocess.run(["xrandr", "--listmonitors"], env=self.desk.env, check=True,
                                capture_output=True, text=True).stdout.splitlines()[1:]
        for line in listed:
            name = line.split()[1].lstrip("+*")
            if name != "DUMMY0":
                self.xrandr("--delmonitor", name)
        for name, geometry, output in monitors:
            self.xrandr("--setmonitor", name, geometry, output)
        shown = subprocess.run(["xrandr", "--listmonitors"], env=self.desk.env, check=True,
                               capture_output=True, text=True).stdout
        self.assertEqual(shown.splitlines()[0], f"Monitors: {len(monitors)}", shown)

    def assert_moves_to(self, corner, at=(1500, 400), top=True):
        """A window of this case's own, on the right-hand monitor (or `at`), goes to the corner,
        above every other window of the case's (with `top` None, seen on the screen there)."""
        title = self.id().rsplit(".", 1)[1].encode()
        window = self.desk.open(title, at=at, size=(300, 200))
        _, _, status, out, err = desktop.answer(TOPLEFT, self.desk.env,
                                                lambda titles: b"%d\n" % titles.index(title))
        self.assertEqual((status, out, err), (0, b"", b""))
        x, y, width, height, above = self.desk.where(window)[:5]
        self.assertEqual((x, y, width, height), corner + (300, 200))
        if top is None:  # a window on another monitor may stay above it, over no part of it
            self.assertTrue(desktop.wait_for(lambda: self.desk.ask(f"seen {window}") == "1", 1), "not seen")
        else:
            self.assertEqual(above, top)

    def test_monitors_showing_the_origin(self):
        self.lay_out(("LEFT", "1280/339x1024/271+0+0", "DUMMY0"), ("RIGHT", RIGHT, "none"))
        self.assert_moves_to((0, 0))

    def test_dead_zone_and_a_primary_monitor_elsewhere(self):
        self.lay_out(("LEFT", LOW_LEFT, "DUMMY0"), ("*RIGHT", RIGHT, "none"))
        self.assert_moves_to((1280, 0))

    def test_dead_zone_and_no_primary_monitor(self):
        self.lay_out(("LEFT", LOW_LEFT, "DUMMY0"), ("RIGHT", RIGHT, "none"))
        self.assert_moves_to((0, 276))

    def test_a_panel_on_the_other_monitor_moves_nothing(self):
        self.lay_out(("LEFT", "1280/339x1024/271+0+0", "DUMMY0"), ("RIGHT", RIGHT, "none"))
        panel = self.desk.open(None, at=(1280, 0), size=(1920, 40), extra="panel top 40")
        try:
            self.assert_moves_to((0, 0))
        finally:
            self.desk.ask(f"destroy {panel}")

    def test_a_full_screen_window_on_the_other_monitor(self):
        # A video played full screen on the right while a window on the left is moved: the manager
        # keeps the video in its full-screen layer, over no part of the moved window.
        self.lay_out(("LEFT", "1280/339x1024/271+0+0", "DUMMY0"), ("RIGHT", RIGHT, "none"))
        movie = self.desk.open(b"Movie", at=(1500, 100), size=(640, 360), extra="fullscreen")
        try:
            self.assert_moves_to((0, 0), at=(200, 150), top=None)
        finally:
            self.desk.ask(f"destroy {movie}")

    # What the shared case of two monitors needs of this desktop.
    topleft = property(lambda self: TOPLEFT)

    def pause_corner(self):
        return (0, 0)

    def open_maximised_elsewhere(self, title):
        if MANAGER == "none":
            self.skipTest("no manager maximises a window")
        self.lay_out(("LEFT", "1280/339x1024/271+0+0", "DUMMY0"), ("RIGHT", RIGHT, "none"))
        self.window = self.desk.open(title, at=(1500, 400), size=(300, 200))
        self.desk.ask(f"move {self.window} 1500 400")
        desktop.wait_for(lambda: self.desk.where(self.window)[0] >= 1280)
        self.desk.ask(f"maximise {self.window}")
        desktop.wait_until_unchanged(None, lambda: self.desk.where(self.window), "the window to be maximised")
        if self.desk.where(self.window)[0] < 1280:
            self.desk.ask(f"destroy {self.window}")
            self.skipTest(f"{MANAGER} maximised it on the first monitor: it missed the monitors laid out after it began")
        return self.window

    def where(self, title):
        return self.desk.where(self.window)

    def maximised(self, title):
        state = subprocess.run(["xprop", "-id", self.window, "_NET_WM_STATE"], env=self.desk.env,
                               capture_output=True, text=True).stdout
        return "_NET_WM_STATE_MAXIMIZED_VERT" in state and "_NET_WM_STATE_MAXIMIZED_HORZ" in state

    def shows(self, title):
        return desktop.wait_for(lambda: self.desk.ask(f"seen {self.window}") == "1", 1)

    def close_window(self, window):
        self.desk.ask(f"destroy {window}")

    def test_one_monitor(self):
        self.lay_out(("ONLY", "1280/339x1024/271+0+0", "DUMMY0"))
        self.assert_moves_to((0, 0))


if __name__ == "__main__":
    TOPLEFT, FIXTURE, MANAGER = sys.argv[1:4]
    desktop.run_tests(sys.argv[:1])
