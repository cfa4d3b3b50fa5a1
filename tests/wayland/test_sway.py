#!/usr/bin/env python3
"""The real topleft on a headless sway, against native Wayland windows of wl_desktop and X
windows of x_desktop under XWayland: every window listed, and each kind moved to the corner,
floating, at the size it had on screen, focused, on top of the others.

Usage: test_sway.py TOPLEFT WL_DESKTOP X_DESKTOP
"""
import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, ".."))
import desktop  # noqa: E402
import sway_desktop  # noqa: E402

TOPLEFT = NATIVE = XPROGRAM = None


class TopleftOnSway(unittest.TestCase, desktop.SeenWithTestPrograms, desktop.AnswerAfterAPause):
    @classmethod
    def setUpClass(cls):
        cls.desk = desk = sway_desktop.SwayDesktop(
            NATIVE, XPROGRAM, extra_config='for_window [title="^Native small$"] floating enable\n')
        cls.native = {}
        for title in (b"Native tiled", b"Native floating", b"Native elsewhere", b"Native hidden",
                      b"Native 100% %s %n", b"\xc3\xa9" * 70):
            cls.native[title] = desk.native.ask(f"open {title.hex()} 320 240")
        cls.native[b"Native small"] = desk.native.ask(f"open {b'Native small'.hex()} 100 60")
        cls.untitled = desk.native.ask("open - 200 100")
        desk.native.ask(f"title {desk.native.ask('open - 200 100')} -")  # an empty title
        cls.x = {}
        for title in (b"X tiled", b"X floating"):
            window = desk.x.ask("open 100 100 300 200 mapped")
            desk.x.ask(f"title {window} WM_NAME STRING 8 {title.hex()}")
            cls.x[title] = window
        desk.wait(lambda: sum(1 for v in desk.views() if v[0].get("window")) == 2, "the X windows")
        desk.command(f"[app_id={cls.native[b'Native floating']}] floating enable")
        desk.command(f"[con_id={cls.con(window=cls.x[b'X floating'])}] floating enable")
        desk.command(f"[app_id={cls.native[b'Native elsewhere']}] move to workspace 2")
        # Floating from the start, and now smaller than sway lets a floating window be resized to:
        # it must keep its size all the same.
        desk.command("floating_minimum_size 120 x 70")
        desk.command(f"[app_id={cls.native[b'Native hidden']}] move scratchpad")

    @classmethod
    def tearDownClass(cls):
        cls.desk.close()

    @classmethod
    def con(cls, window):
        return next(node["id"] for node, _, _ in cls.desk.views() if node.get("window") == int(window))

    # What the shared case of a person's answer needs of this desktop: floating windows, whose
    # places sway keeps (it lays tiles out anew as windows come and go).
    topleft = property(lambda self: TOPLEFT)
    env = property(lambda self: self.desk.env)

    def pause_windows(self):
        return b"X floating", b"Native floating"

    def raise_window(self, title):
        self.desk.command(f"[app_id={self.native[title]}] focus")
        self.assertTrue(desktop.wait_for(lambda: self.raised(title)), "not focused")

    def raised(self, title):
        return bool(self.where(title)[5])

    def pause_places(self):
        self.desk.settle()
        return {title: self.where(title)[:4] for title in (b"X floating", b"Native floating", b"Native small")}

    def pause_corner(self):
        return (0, 0)

    LACKING = {"on top": "sway keeps no window always on top", "maximised": "sway maximises no window: it tiles them"}

    def stage(self, title, kind):  # elsewhere: on another workspace, focused there last
        for command in ("move to workspace 3", "focus"):
            self.desk.command(f"[app_id={self.native[title]}] {command}")
        self.desk.command("workspace 1")

    def settle(self):
        self.desk.settle()

    def listing(self):
        run = subprocess.run([TOPLEFT], env=self.desk.env, input=b"", capture_output=True, timeout=60)
        self.assertEqual((run.returncode, run.stderr), (1, b"No number was read.\n"))
        return desktop.titles_before_prompt(run.stdout)

    def shows(self, title):
        return bool(self.where(title)[6])  # sway's own account: shown on its output, under no full-screen one

    def where(self, title):
        if title in self.x:
            return self.desk.where(window=self.x[title])
        return self.desk.where(app_id=self.native[title])

    def test_every_titled_window_is_listed(self):
        titles = self.listing()
        for title in list(self.native) + list(self.x):
            expected = title if len(title) <= 127 else "é".encode() * 63
            self.assertEqual(titles.count(expected), 1, title)
        self.assertEqual(len(titles), len(self.native) + len(self.x), titles)
        # Floating windows above tiled ones; windows elsewhere after those on show; the
        # scratchpad's last.
        self.assertLess(titles.index(b"Native floating"), titles.index(b"Native tiled"))
        self.assertLess(titles.index(b"X tiled"), titles.index(b"Native elsewhere"))
        self.assertEqual(titles[-1], b"Native hidden")

    def assert_moves(self, title):
        self.desk.settle()
        before = self.where(title)
        _, _, status, out, err = desktop.answer(TOPLEFT, self.desk.env,
                                                lambda titles: b"%d\n" % titles.index(title))
        self.assertEqual((status, out, err), (0, b"", b""))
        after = self.where(title)
        # At the corner, floating, as large as it was on screen, focused, on show, on top.
        self.assertEqual(after[:8], (0, 0, before[2], before[3], True, True, True, True), title)

    def test_moves(self):
        for title in (b"Native tiled", b"Native floating", b"Native small", b"X tiled", b"X floating"):
            with self.subTest(title=title):
                self.assert_moves(title)

    def test_an_x11_title_in_latin1_is_listed_in_utf8(self):
        # Older X11 programs title their windows in Latin-1, and sway passes the bytes on as they are.
        latin1 = b"Caf\xe9 na\xefve"
        window = self.x[latin1] = self.desk.x.ask("open 150 120 300 200 mapped")
        self.desk.x.ask(f"title {window} WM_NAME STRING 8 {latin1.hex()}")
        try:
            self.desk.wait(lambda: self.desk.where(window=window), "the window")
            self.assertIn("Café naïve".encode(), self.listing())
            _, _, status, out, err = desktop.answer(TOPLEFT, self.desk.env,
                                                    lambda titles: b"%d\n" % titles.index("Café naïve".encode()))
            self.assertEqual((status, out, err), (0, b"", b""))
        finally:
            self.close_window(("x", window))

    def test_window_on_another_workspace_is_brought_here(self):
        self.assert_moves(b"Native elsewhere")
        self.assertEqual(self.where(b"Native elsewhere")[8], "2")

    def test_hidden_window_is_shown(self):
        self.desk.settle()
        before = self.where(b"Native hidden")
        self.assertEqual(before[6], False)
        _, _, status, out, err = desktop.answer(TOPLEFT, self.desk.env,
                                                lambda titles: b"%d\n" % titles.index(b"Native hidden"))
        self.assertEqual((status, err), (0, b""))
        self.assertEqual(self.where(b"Native hidden")[:2] + self.where(b"Native hidden")[4:8],
                         (0, 0, True, True, True, True))

    def movable(self, title):
        """What of a window a move could change: floating or not, focused, its workspace, and the
        place and size of a floating one (sway lays tiles out on its own, in its own time)."""
        x, y, width, height, floating, focused, _, _, workspace = self.where(title)
        return (floating, focused, workspace) + ((x, y, width, height) if floating else ())

    def test_bad_numbers_move_nothing(self):
        count = len(self.listing())
        self.desk.settle()
        before = {title: self.movable(title) for title in list(self.native) + list(self.x)}
        for typed, message in ((b"%d\n" % count, b"No window is listed with that number.\n"),
                               (b"x\n", b"No number was read.\n")):
            run = subprocess.run([TOPLEFT], env=self.desk.env, input=typed, capture_output=True, timeout=60)
            self.assertEqual((run.returncode, run.stderr), (1, message))
        self.assertEqual({title: self.movable(title) for title in before}, before)

    def test_window_closed_before_the_answer(self):
        self.assertEqual(desktop.answer_after_closing(TOPLEFT, self.desk.env, self.desk.native),
                         (1, b"", desktop.CLOSED))

    def test_without_sway_the_foreign_toplevel_protocol_lists_every_window(self):
        # sway offers the protocol to other programs as well: without its socket every window is
        # listed through it, native ones too.
        env = dict(self.desk.env)
        del env["SWAYSOCK"]
        run = subprocess.run([TOPLEFT], env=env, input=b"", capture_output=True, timeout=60)
        titles = desktop.titles_before_prompt(run.stdout)
        expected = {title if len(title) <= 127 else "é".encode() * 63 for title in list(self.native) + list(self.x)}
        self.assertEqual(set(titles), expected)
        self.assertEqual(run.stderr, b"No number was read.\n")

    def test_nothing_reachable(self):
        env = dict(self.desk.env, SWAYSOCK=os.path.join(self.desk.folder, "gone.sock"), WAYLAND_DISPLAY="gone")
        del env["DISPLAY"]
        run = subprocess.run([TOPLEFT], env=env, input=b"0\n", capture_output=True, timeout=60)
        self.assertEqual((run.returncode, run.stdout), (1, b""))
        self.assertEqual(run.stderr.count(b"\n"), 1, run.stderr)
        self.assertIn(b"sway does not answer", run.stderr)


class BelowItsBar(unittest.TestCase):
    """sway's own bar along the top: a floating window goes to the corner of the space it leaves."""

    def test_window_goes_below_the_bar(self):
        desk = sway_desktop.SwayDesktop(NATIVE, None, extra_config="bar {\n    position top\n}\n")
        try:
            app_id = desk.native.ask(f"open {b'Native'.hex()} 320 240")
            desk.wait(lambda: next((w for w in desk.ipc.ask(1) if w["visible"]), {"rect": {"y": 0}})["rect"]["y"] > 0,
                      "the bar")
            top = next(w for w in desk.ipc.ask(1) if w["visible"])["rect"]["y"]  # GET_WORKSPACES
            desk.settle()
            before = desk.where(app_id=app_id)
            _, _, status, out, err = desktop.answer(TOPLEFT, desk.env, lambda titles: b"0\n")
            self.assertEqual((status, out, err), (0, b"", b""))
            self.assertEqual(desk.where(app_id=app_id)[:6], (0, top, before[2], before[3], True, True))
        finally:
            desk.close()


class CornerOfTwoOutputs(unittest.TestCase):
    """Two outputs, a laptop's placed lower beside a taller screen: no output shows (0, 0), and
    sway names no primary, so the window goes to the corner of the output nearest (0, 0)."""

    def test_window_goes_to_the_nearest_outputs_corner(self):
        desk = sway_desktop.SwayDesktop(NATIVE, None, outputs=[(1280, 1024, 0, 276), (1920, 1080, 1280, 0)])
        try:
            app_id = desk.native.ask(f"open {b'Native'.hex()} 320 240")
            desk.settle()
            before = desk.where(app_id=app_id)
            _, _, status, out, err = desktop.answer(TOPLEFT, desk.env, lambda titles: b"0\n")
            self.assertEqual((status, out, err), (0, b"", b""))
            self.assertEqual(desk.where(app_id=app_id)[:6], (0, 276, before[2], before[3], True, True))
            # A floating window of the other output that reaches back over the corner: sway draws
            # the floating windows of the outputs in their order, so it stays above.
            wide = desk.native.ask(f"open {b'Wide'.hex()} 2400 300")
            desk.command("floating_maximum_size -1 x -1")
            desk.command(f"[app_id={wide}] floating enable, resize set 2400 px 300 px, move absolute position 200 px 300 px")
            desk.settle()
            self.assertEqual(desk.where(app_id=wide)[0], 200)
            _, _, status, out, err = desktop.answer(TOPLEFT, desk.env, lambda titles: b"%d\n" % titles.index(b"Native"))
            self.assertEqual((status, out, err), (1, b"", b'topleft: "Native" could not be moved: sway kept "Wide" above it.\n'))
        finally:
            desk.close()


if __name__ == "__main__":
    TOPLEFT, NATIVE, XPROGRAM = sys.argv[1:4]
    desktop.run_tests(sys.argv[:1])
