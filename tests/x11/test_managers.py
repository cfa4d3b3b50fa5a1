#!/usr/bin/env python3
"""The move under one window manager of the matrix, on a private X server: an ordinary window, a
window with Static gravity and a window drawing its own frame and shadow each end with the corner
the user sees at (0, 0), their size kept, above the others and active; or, where the manager will
not have it, with exit status 1 and a message that says truly where the window is. A window that
closes before the answer is reported. Under "refuse" nothing moves and every move is reported.

Usage: test_managers.py TOPLEFT X_DESKTOP MANAGER
"""
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import desktop  # noqa: E402

TOPLEFT = FIXTURE = MANAGER = None
# The shadow a window drawing its own frame leaves around it (left, right, top, bottom), as GTK's.
SHADOW = (23, 23, 15, 31)
# Managers that keep every frame on the screen, so a shadow cannot go past its edge.
KEEP_FRAMES_ON_SCREEN = ("icewm", "marco")


class MovesUnderAManager(unittest.TestCase, desktop.AnswerAfterAPause, desktop.SeenAsItIs):
    @classmethod
    def setUpClass(cls):
        cls.desk = desk = desktop.XDesktop(FIXTURE, MANAGER)
        cls.windows = {
            "Ordinary": desk.open(b"Ordinary", at=(150, 120)),
            "Static gravity": desk.open(b"Static gravity", at=(200, 160), extra="static"),
            "Own frame": desk.open(b"Own frame", at=(250, 180), size=(340, 260),
                                   extra="csd " + " ".join(map(str, SHADOW))),
            "Minimised": desk.open(b"Minimised", at=(180, 140), state="iconic"),
            # Opened last, so above the others.
            "Covering": desk.open(b"Covering", at=(120, 100), size=(500, 400)),
        }

    @classmethod
    def tearDownClass(cls):
        cls.desk.close()

    @property
    def corner(self):
        """The corner the manager leaves free beside its panels (GNOME's top bar)."""
        return work_area_corner(self.desk.env)

    def places(self):
        return {name: self.desk.where(window) for name, window in self.windows.items()}

    def move(self, name):
        """Moves one window, chosen from the run's own listing; returns (the run, where every
        window was before, after)."""
        before = self.places()
        _, _, status, out, err = desktop.answer(TOPLEFT, self.desk.env,
                                                lambda titles: b"%d\n" % titles.index(name.encode()))
        self.assertEqual(out, b"")
        return subprocess.CompletedProcess(TOPLEFT, status, out, err), before, self.places()

    def assert_moved_or_reported(self, name):
        run, before, after = self.move(name)
        if run.returncode == 0:
            self.assertEqual(run.stderr, b"")
            # No waiting: once topleft has ended with 0, the window is there.
            width, height = before[name][2:4]
            self.assertEqual(after[name][:5], self.corner + (width, height, 1), "not at the corner, on top")
            if MANAGER in desktop.EWMH_MANAGERS:
                self.assertEqual(after[name][5], 1, "not the active window")
            if MANAGER != "i3":  # i3 tiles the others again in the room the window left
                for other in self.windows:
                    if other != name:
                        self.assertEqual(after[other][:4], before[other][:4], f"{other} moved")
            return True
        # Not moved: one line that names the window and says truly where it is.
        self.assertEqual(run.returncode, 1)
        message = run.stderr.decode()
        self.assertEqual(message.count("\n"), 1, message)
        self.assertTrue(message.startswith(f'topleft: "{name}" could not be moved: '), message)
        corner = re.search(r"kept it at \((-?\d+), (-?\d+)\)", message)
        if corner:
            self.assertEqual(tuple(map(int, corner.groups())), after[name][:2], message)
        return False

    # What the shared case of a person's answer needs of this desktop.
    topleft = property(lambda self: TOPLEFT)
    env = property(lambda self: self.desk.env)

    def pause_windows(self):
        return b"Static gravity", b"Ordinary"

    def raise_window(self, title):
        window = self.windows[title.decode()]
        self.assertEqual(self.desk.ask(f"raise {window}"), "ok")
        self.assertTrue(desktop.wait_for(lambda: self.raised(title)), "not raised")

    def raised(self, title):
        # On top, or, where windows are tiled side by side (i3), the active one.
        return 1 in self.desk.where(self.windows[title.decode()])[4:6]

    def open_window(self, title):
        return self.desk.open(title, at=(400, 300))

    def pause_places(self):
        # i3 tiles the others again in the room the window left.
        names = ["Static gravity"] if MANAGER == "i3" else self.windows
        return {name.encode(): self.desk.where(self.windows[name])[:4] for name in names}

    def pause_corner(self):
        return self.corner

    # What the cases of situations need.
    def open_situation(self, kind, title):
        opened = []

        def open_(title, **options):
            opened.insert(0, self.desk.open(title, **options))
            self.windows[title.decode()] = opened[0]
            return opened[0]

        if kind == "elsewhere":
            self.show_desktop(1)
            self.desk.ask(f"raise {open_(title)}")
            self.show_desktop(0)
        elif kind == "dialogs":
            desktop.open_dialogs(lambda title, options: open_(title, at=(200, 160), extra=options), title)
        elif kind.startswith("full screen"):
            # The video starts over the window, and has the focus; "elsewhere", both on the second
            # desktop, the first one shown (a manager may show the second for the move, or not).
            elsewhere = "elsewhere" in kind
            if elsewhere:
                self.show_desktop(1)
            open_(title, at=(220, 170), extra="nofocus" if kind.endswith("no focus") else "")
            open_(b"Movie", at=(100, 100), size=(640, 360), extra="fullscreen")
            desktop.wait_until_unchanged(None, lambda: self.where(b"Movie"), "the video full screen")
            if elsewhere:
                self.show_desktop(0)
        else:
            extra = {"on top": "above", "no focus": "nofocus", "maximised": "maximised"}[kind]
            open_(title, at=(0, 0) if kind == "on top" else (220, 170), extra=extra)
            # A manager may maximise it a moment after it is shown.
            desktop.wait_until_unchanged(None, lambda: self.where(title), "the window to be maximised")
        return opened

    def show_desktop(self, number):
        """Shows that desktop, as a pager does."""
        if root_cardinals(self.desk.env, "_NET_NUMBER_OF_DESKTOPS")[:1] < [2] or MANAGER == "i3":
            self.skipTest(f"{MANAGER} keeps no second desktop to show here")
        self.desk.ask(f"desktop {number}")
        self.assertTrue(desktop.wait_for(lambda: root_cardinals(self.desk.env, "_NET_CURRENT_DESKTOP") == [number]),
                        "not shown")

    def test_a_video_full_screen_on_another_desktop_over_a_window_that_takes_no_focus(self):
        # Where the manager shows that desktop for the move, the video is in view from then on.
        self.assert_seen_or_said("full screen elsewhere, no focus", b"Under a video")

    def close_window(self, window):
        self.desk.ask(f"destroy {window}")
        for name in [name for name, w in self.windows.items() if w == window]:
            del self.windows[name]

    def where(self, title):
        return self.desk.where(self.windows[title.decode()])[:4]

    def shows(self, title):
        # The screen catches up with the stacking a moment later under some managers (metacity).
        return desktop.wait_for(lambda: self.desk.ask(f"seen {self.windows[title.decode()]}") == "1", 1)

    # Window Maker keeps a full-screen window above the others, focused or not.
    FULL_SCREEN_KEPT_ABOVE = property(lambda self: MANAGER == "wmaker")

    def test_ordinary_window(self):
        self.assertTrue(self.assert_moved_or_reported("Ordinary"))

    def test_window_with_static_gravity(self):
        self.assertTrue(self.assert_moved_or_reported("Static gravity"))

    def test_window_drawing_its_own_frame(self):
        moved = self.assert_moved_or_reported("Own frame")
        self.assertEqual(moved, MANAGER not in KEEP_FRAMES_ON_SCREEN)

    def test_minimised_window(self):
        self.assertTrue(self.assert_moved_or_reported("Minimised"))

    def test_window_closed_before_the_answer(self):
        doomed = self.desk.open(b"Doomed", at=(300, 300))
        _, _, status, out, err = desktop.answer(
            TOPLEFT, self.desk.env, lambda titles: b"%d\n" % titles.index(b"Doomed"),
            lambda: self.desk.ask(f"destroy {doomed}"))
        self.assertEqual((status, out), (1, b""))
        self.assertEqual(err, b"topleft: the window closed before it could be moved.\n")


class BesideAPanel(unittest.TestCase):
    """A panel of the desktop's own, a dock window reserving 40 pixels along the top (60 along the
    left): the window's visible corner goes to the corner of the space it leaves, never under it;
    with no manager, which keeps no panel above windows, to the screen's corner, above the panel."""

    def assert_beside(self, edge, panel_size, corner):
        desk = desktop.XDesktop(FIXTURE, MANAGER)
        try:
            size = (1280, 40) if edge == "top" else (60, 1024)
            desk.open(None, at=(0, 0), size=size, extra=f"panel {edge} {size[0 if edge == 'left' else 1]}")
            window = desk.open(b"Beside a panel", at=(150, 120))
            # A manager that publishes its work area takes the panel in in its own time (i3 publishes
            # none; Window Maker's stays whole).
            if MANAGER not in ("none", "i3", "wmaker"):
                reserved = 1 if edge == "top" else 0
                self.assertTrue(desktop.wait_for(lambda: work_area_corner(desk.env)[reserved] >= panel_size),
                                "the manager did not take the panel in")
            _, _, status, out, err = desktop.answer(TOPLEFT, desk.env,
                                                    lambda titles: b"%d\n" % titles.index(b"Beside a panel"))
            self.assertEqual((status, out, err), (0, b"", b""))
            place = desk.where(window)
            # i3 floats a tiled window at the size of its tile.
            self.assertEqual(place[:2] + place[4:5], corner + (1,))
            if MANAGER != "i3":
                self.assertEqual(place[2:4], (300, 200))
        finally:
            desk.close()

    def test_top_panel(self):
        if MANAGER == "twm":
            self.skipTest("twm keeps no panel above other windows")
        self.assert_beside("top", 40, (0, 0) if MANAGER == "none" else (0, 40))

    def test_work_area_left_by_a_manager_that_has_gone(self):
        # Left on the root by a manager before this one, which keeps none.
        if MANAGER != "twm":
            self.skipTest("twm is the manager here that publishes no work area of its own")
        desk = desktop.XDesktop(FIXTURE, MANAGER)
        try:
            subprocess.run(["xprop", "-root", "-f", "_NET_WORKAREA", "32c", "-set", "_NET_WORKAREA", "0, 40, 1280, 984"],
                           env=desk.env, check=True)
            window = desk.open(b"Beside no panel", at=(150, 120))
            _, _, status, out, err = desktop.answer(TOPLEFT, desk.env,
                                                    lambda titles: b"%d\n" % titles.index(b"Beside no panel"))
            self.assertEqual((status, out, err), (0, b"", b""))
            self.assertEqual(desk.where(window)[:5], (0, 0, 300, 200, 1))
        finally:
            desk.close()

    def test_left_panel(self):
        if MANAGER != "openbox":
            self.skipTest("one manager is enough for a panel along the left edge")
        self.assert_beside("left", 60, (60, 0))


def root_cardinals(env, name):
    """The numbers of a property of the root window; [] where it has none."""
    found = subprocess.run(["xprop", "-root", name], env=env, capture_output=True, text=True).stdout
    return [int(n) for n in re.findall(r"\d+", found.split("=", 1)[1])] if "=" in found else []


def work_area_corner(env):
    """The corner of _NET_WORKAREA's first rectangle, where the manager publishes one; (0, 0)
    where it does not."""
    numbers = root_cardinals(env, "_NET_WORKAREA")
    return (numbers[0], numbers[1]) if len(numbers) >= 4 else (0, 0)


class RefusingManager(MovesUnderAManager):
    """Under a manager that refuses every move, every move is reported and nothing moves."""

    # Nothing moves here.
    test_answer_after_a_pause_moves_the_window_listed_with_the_number = None
    test_window_at_the_corner_under_another_is_raised = None
    test_a_window_on_another_workspace_used_last = test_an_always_on_top_window_over_the_corner = None
    test_a_window_that_takes_no_focus = test_a_window_whose_dialog_has_a_dialog = test_a_maximised_window = None
    test_a_video_full_screen_over_a_window_that_takes_the_focus = None
    test_a_video_full_screen_over_a_window_that_takes_no_focus = None
    test_a_video_full_screen_on_another_desktop_over_a_window_that_takes_no_focus = None

    def assert_refused(self, name, corner):
        run, before, after = self.move(name)
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stderr.decode(), f'topleft: "{name}" could not be moved: the window '
                                              f'manager kept it at {corner}.\n')
        self.assertEqual(after, before)

    def test_ordinary_window(self):
        self.assert_refused("Ordinary", (150, 120))

    def test_window_with_static_gravity(self):
        self.assert_refused("Static gravity", (200, 160))

    def test_minimised_window(self):
        self.assert_refused("Minimised", (180, 140))

    def test_window_drawing_its_own_frame(self):
        # Inside its one-pixel border and its shadow.
        self.assert_refused("Own frame", (250 + 1 + SHADOW[0], 180 + 1 + SHADOW[2]))


if __name__ == "__main__":
    TOPLEFT, FIXTURE, MANAGER = sys.argv[1:4]
    desktop.run_tests(sys.argv[:1] + (["RefusingManager"] if MANAGER == "refuse" else
                                      ["MovesUnderAManager", "BesideAPanel"]))
