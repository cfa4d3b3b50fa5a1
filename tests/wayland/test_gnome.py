#!/usr/bin/env python3
"""The real topleft on a headless GNOME Shell with topleft's extension, against native Wayland
windows of wl_desktop (and, on GNOME Shell 43, X windows of x_desktop under XWayland): every
titled window listed topmost first, each kind moved to the corner GNOME leaves free below its top
bar, at its size, focused and on top; a minimised one shown again; and with the extension off,
the line that says how to turn it on.

Usage: test_gnome.py TOPLEFT WL_DESKTOP X_DESKTOP EXTENSIONS [SUITE]
EXTENSIONS is the build's gnome-shell folder. With SUITE (trixie: GNOME Shell 48, forky: Debian
testing's), the shell runs from a Debian root of that suite, made first if need be; where Debian
testing's root cannot be made, the test is skipped with the reason (exit status 77).
"""
import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, ".."))
import debian_root  # noqa: E402
import desktop  # noqa: E402
import gnome_desktop  # noqa: E402

TOPLEFT = NATIVE = XPROGRAM = EXTENSIONS = ROOT = None


def stacked(desk):
    """Mutter's stacking, topmost first, as the extension lists it and desktop.seen_in takes it."""
    return [(title.encode(), place[:4], place[6]) for title, place in desk.windows()[0].items()]


class TopleftOnGnome(unittest.TestCase, desktop.SeenWithTestPrograms, desktop.AnswerAfterAPause):
    @classmethod
    def setUpClass(cls):
        cls.desk = desk = gnome_desktop.GnomeDesktop(EXTENSIONS, NATIVE, None, root=ROOT)
        print(f"GNOME Shell {desk.version()}", file=sys.stderr)
        cls.native = {}
        for title in (b"Native one", b"Native two", b"Native minimised", b"Native 100% %s %n", b"\xc3\xa9" * 70):
            cls.native[title] = desk.native.ask(f"open {title.hex()} 320 240")
        desk.native.ask("open - 200 100")  # untitled
        desk.native.ask(f"minimise {cls.native[b'Native minimised']}")
        cls.x = {}
        if "DISPLAY" in desk.env:
            desk.x = desktop.Fixture(XPROGRAM, desk.env)
            for title in (b"X one", b"X two"):
                window = desk.x.ask("open 100 100 300 200 mapped")
                desk.x.ask(f"title {window} WM_NAME STRING 8 {title.hex()}")
                cls.x[title] = window
        desk.wait(lambda: all(t.decode() in desk.windows()[0] for t in list(cls.x) + [b"Native one"]), "the windows")
        desk.wait(lambda: desk.windows()[0]["Native minimised"][4], "the minimised window")

    @classmethod
    def tearDownClass(cls):
        cls.desk.close()

    # What the shared case of a person's answer needs of this desktop.
    topleft = property(lambda self: TOPLEFT)
    env = property(lambda self: self.desk.env)

    def pause_windows(self):
        return b"Native two", b"Native one"

    def raise_window(self, title):
        self.assertEqual(self.desk.activate(title.decode()).returncode, 0)
        self.desk.wait(lambda: self.raised(title), "the window to have the focus", 10)

    def raised(self, title):
        return bool(self.desk.windows()[0][title.decode()][5])

    def pause_places(self):
        self.desk.settle()
        return {title.encode(): place[:4] for title, place in self.desk.windows()[0].items()
                if title.encode() in list(self.native) + list(self.x) and title != "Native minimised"}

    def pause_corner(self):
        return tuple(self.desk.windows()[1][0][4:6])

    def stage(self, title, kind):
        self.desk.stage(title.decode(), kind)

    def settle(self):
        expected = {title.decode() for title in list(self.native) + list(self.x)}
        self.desk.wait(lambda: set(self.desk.windows()[0]) == expected, "the windows")
        self.desk.settle()

    def where(self, title):
        return self.desk.windows()[0][title.decode()][:4]

    def stacked(self):
        return stacked(self.desk)

    def listing(self):
        run = subprocess.run([TOPLEFT], env=self.desk.env, input=b"", capture_output=True, timeout=60)
        self.assertEqual((run.returncode, run.stderr), (1, b"No number was read.\n"))
        return desktop.titles_before_prompt(run.stdout)

    def test_every_titled_window_is_listed_topmost_first(self):
        titles = self.listing()
        expected = [t if len(t) <= 127 else "é".encode() * 63 for t in list(self.native) + list(self.x)]
        self.assertEqual(sorted(titles), sorted(expected))
        seen = list(self.desk.windows()[0])  # the extension's own order, topmost first
        self.assertEqual([t.decode() for t in titles if not t.startswith("é".encode())],
                         [t for t in seen if not t.startswith("é")])

    def assert_moves(self, title):
        self.desk.settle()
        before = self.desk.windows()[0][title.decode()]
        _, _, status, out, err = desktop.answer(TOPLEFT, self.desk.env, lambda titles: b"%d\n" % titles.index(title))
        self.assertEqual((status, out, err), (0, b"", b""))
        windows, monitors = self.desk.windows()
        # The corner GNOME leaves free below its top bar; the size kept; shown, focused, on top.
        work_x, work_y = monitors[0][4:6]
        self.assertEqual(windows[title.decode()][:7], (work_x, work_y, before[2], before[3], False, True, True), title)
        self.assertEqual(next(iter(windows)), title.decode(), "not the topmost")

    def test_moves(self):
        for title in [b"Native one", b"Native two"] + list(self.x):
            with self.subTest(title=title):
                self.assert_moves(title)

    def test_minimised_window_is_shown_again(self):
        self.assertTrue(self.desk.windows()[0]["Native minimised"][4])
        self.assert_moves(b"Native minimised")

    def test_bad_numbers_move_nothing(self):
        self.desk.settle()
        before = self.desk.windows()
        count = len(self.listing())
        for typed, message in ((b"%d\n" % count, b"No window is listed with that number.\n"),
                               (b"x\n", b"No number was read.\n")):
            run = subprocess.run([TOPLEFT], env=self.desk.env, input=typed, capture_output=True, timeout=60)
            self.assertEqual((run.returncode, run.stderr), (1, message))
        self.assertEqual(self.desk.windows(), before)

    def test_window_closed_before_the_answer(self):
        self.assertEqual(desktop.answer_after_closing(TOPLEFT, self.desk.env, self.desk.native),
                         (1, b"", desktop.CLOSED))

    def test_wrong_input_on_the_bus_is_an_error_reply(self):
        for arguments in (("tii", "999999", "0", "0"), ("sii", "x", "0", "0")):
            answer = self.desk.busctl("call", "org.gnome.Shell", "/org/topleft/Windows", "org.topleft.Windows",
                                      "Move", *arguments)
            self.assertNotEqual(answer.returncode, 0, arguments)
        self.assertIn("no window has the id", self.desk.busctl("call", "org.gnome.Shell", "/org/topleft/Windows",
                                                       "org.topleft.Windows", "Move", "tii", "999999", "0",
                                                       "0").stderr)
        self.assertEqual(len(self.listing()), len(self.native) + len(self.x))  # the shell goes on

    def test_zz_without_the_extension_the_line_says_how_to_turn_it_on(self):
        # Last: it turns the extension off for the rest of the run.
        self.assertEqual(self.desk.disable_extension().returncode, 0)
        self.desk.wait(lambda: self.desk.busctl("call", "org.gnome.Shell", "/org/topleft/Windows",
                                                "org.topleft.Windows", "List").returncode != 0, "the object to go")
        run = subprocess.run([TOPLEFT], env=self.desk.env, input=b"", capture_output=True, timeout=60)
        first = run.stderr.decode().splitlines()[0]
        self.assertIn(f'gnome-extensions enable {gnome_desktop.UUID}', first)
        self.assertIn("log in again", first)
        if "DISPLAY" in self.desk.env:
            # Then the X11 windows alone (the shell's own among them), where XWayland runs.
            titles = set(desktop.titles_before_prompt(run.stdout))
            self.assertEqual(titles & set(self.native), set())
            self.assertLessEqual(set(self.x), titles)
        else:
            # No XWayland either (GNOME Shell 48 and later here): nothing to list.
            self.assertEqual((run.returncode, run.stdout), (1, b""))
            self.assertIn("cannot open display", run.stderr.decode().splitlines()[1])


class OnTwoMonitors(desktop.OnTwoMonitors, unittest.TestCase):
    """Two monitors side by side: a window maximised on the right one, chosen, is maximised on the
    left one, where the corner is."""
    topleft = property(lambda self: TOPLEFT)

    @classmethod
    def setUpClass(cls):
        cls.desk = gnome_desktop.GnomeDesktop(EXTENSIONS, NATIVE, None, root=ROOT, monitors=2)

    def windows(self):
        return self.desk.windows()[0]

    def pause_corner(self):
        return tuple(self.desk.windows()[1][0][4:6])

    def shows(self, title):
        return desktop.seen_in(stacked(self.desk), title)


if __name__ == "__main__":
    TOPLEFT, NATIVE, XPROGRAM, EXTENSIONS = sys.argv[1:5]
    if len(sys.argv) > 5:
        ROOT = debian_root.make_for_test(sys.argv[5], "test_gnome")
    desktop.run_tests(sys.argv[:1])
