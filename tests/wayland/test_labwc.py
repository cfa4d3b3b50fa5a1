#!/usr/bin/env python3
"""The real topleft on a headless labwc (Debian 13's), which offers the wlr foreign-toplevel
protocol: native windows brought to the top and said to be beyond reach, X ones placed at the corner.

Usage: test_labwc.py TOPLEFT WL_DESKTOP X_DESKTOP
"""
import os
import signal
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, ".."))
import debian_root  # noqa: E402
import desktop  # noqa: E402
import labwc_desktop  # noqa: E402

TOPLEFT = NATIVE = XPROGRAM = ROOT = None


def unplaced(title):
    return b"topleft: labwc lets no program place another program's window; \"%s\" was brought to the top.\n" % title


class TopleftOnLabwc(unittest.TestCase, desktop.SeenWithTestPrograms, desktop.AnswerAfterAPause):
    @classmethod
    def setUpClass(cls):
        cls.desk = desk = labwc_desktop.LabwcDesktop(ROOT, NATIVE, XPROGRAM)
        cls.native = {title: desk.native.ask(f"open {title.hex()} 320 240") for title in (b"Native one",
                                                                                           b"Native minimised")}
        cls.x = {}
        # An old program's title in Latin-1 (a native one must be UTF-8: labwc ends a program that
        # gives another).
        for title in (b"X one", b"X two", b"Caf\xe9 in Latin-1"):
            window = desk.x.ask("open 100 100 300 200 mapped")
            desk.x.ask(f"title {window} WM_NAME STRING 8 {title.hex()}")
            cls.x[title] = window
        cls.gtk = subprocess.Popen(["zenity", "--info", "--title", "GTK window", "--text", "A GTK program's window"],
                                   env=dict(desk.env, GDK_BACKEND="wayland"), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        desk.native.ask(f"minimise {cls.native[b'Native minimised']}")
        desk.wait(lambda: b"GTK window" in cls.listing(), "the GTK window")

    @classmethod
    def tearDownClass(cls):
        desktop.stop(cls.gtk)
        cls.desk.close()

    @classmethod
    def listing(cls):
        run = subprocess.run([TOPLEFT], env=cls.desk.env, input=b"", capture_output=True, timeout=60)
        return desktop.titles_before_prompt(run.stdout)

    # What the shared cases need of this desktop: X windows, which alone a program can place here.
    topleft = property(lambda self: TOPLEFT)
    env = property(lambda self: self.desk.env)
    LACKING = dict.fromkeys(("elsewhere", "on top", "maximised"),
                            "labwc lets no program stage it: it has no interface for other programs")

    def pause_windows(self):
        return b"X one", b"X two"

    def raise_window(self, title):
        self.desk.x.ask(f"raise {self.x[title]}")
        self.assertTrue(desktop.wait_for(lambda: self.raised(title)), "not raised")

    def raised(self, title):
        return self.desk.active(title)

    def pause_places(self):
        return {title: self.desk.where(self.x[title])[:4] for title in (b"X one", b"X two")}

    def pause_corner(self):
        return (0, 0)

    def settle(self):
        desktop.wait_until_unchanged(self.desk.labwc, lambda: self.desk.tool("wlrctl", "toplevel", "list").stdout,
                                     "a settled desktop")

    def where(self, title):
        return self.desk.where(self.x[title])

    def shows(self, title):
        return desktop.wait_for(lambda: self.desk.shows(self.x[title]), 1)

    def test_every_window_is_listed(self):
        titles = self.listing()
        expected = {b"Native one", b"Native minimised", "Café in Latin-1".encode(), b"GTK window", b"X one", b"X two"}
        self.assertEqual(set(titles), expected)
        self.assertEqual(len(titles), len(expected))

    def test_a_native_window_is_brought_to_the_top(self):
        for title in (b"Native one", b"Native minimised"):
            with self.subTest(title=title):
                self.desk.x.ask(f"raise {self.x[b'X two']}")  # another window is active
                _, _, status, out, err = desktop.answer(TOPLEFT, self.desk.env, lambda t: b"%d\n" % t.index(title))
                self.assertEqual((status, out, err), (1, b"", unplaced(title)))
                self.assertTrue(self.desk.active(title))

    def test_x11_windows_go_to_the_corner(self):
        for title, listed in ((b"X two", b"X two"), (b"Caf\xe9 in Latin-1", "Café in Latin-1".encode())):
            with self.subTest(title=title):
                before = self.where(title)
                _, _, status, out, err = desktop.answer(TOPLEFT, self.desk.env, lambda t: b"%d\n" % t.index(listed))
                self.assertEqual((status, out, err), (0, b"", b""))
                self.assertEqual(self.where(title)[:4], (0, 0) + before[2:4])
                self.assertTrue(self.desk.active(title) and self.shows(title))

    def test_two_x11_windows_of_one_title_are_left_as_they_are(self):
        twins = [self.desk.x.ask("open 300 300 200 100 mapped") for _ in range(2)]
        try:
            for twin in twins:
                self.desk.x.ask(f"title {twin} WM_NAME STRING 8 {b'Twin'.hex()}")
            self.settle()
            before = [self.desk.where(twin) for twin in twins]
            _, _, status, _, err = desktop.answer(TOPLEFT, self.desk.env, lambda t: b"%d\n" % t.index(b"Twin"))
            self.assertEqual(status, 1)
            self.assertRegex(err, rb'^topleft: "Twin" could not be moved: another window has the same title .*\n$')
            self.assertEqual([self.desk.where(twin) for twin in twins], before)
        finally:
            for twin in twins:
                self.desk.x.ask(f"destroy {twin}")

    def test_bad_numbers_and_a_window_closed_before_the_answer(self):
        for typed, message in ((b"99\n", b"No window is listed with that number.\n"), (b"x\n", b"No number was read.\n")):
            run = subprocess.run([TOPLEFT], env=self.desk.env, input=typed, capture_output=True, timeout=60)
            self.assertEqual((run.returncode, run.stderr), (1, message))
        self.assertEqual(desktop.answer_after_closing(TOPLEFT, self.desk.env, self.desk.native),
                         (1, b"", desktop.CLOSED))

    def test_labwc_not_answering(self):
        try:
            _, _, status, out, err = desktop.answer(TOPLEFT, self.desk.env, lambda t: b"0\n",
                                                    lambda: self.desk.signal_labwc(signal.SIGSTOP))
        finally:
            self.desk.signal_labwc(signal.SIGCONT)
        self.assertEqual((status, out, err), (1, b"", b"topleft: labwc did not answer.\n"))


class LabwcGone(unittest.TestCase):
    def test_labwc_closing_the_connection(self):
        desk = labwc_desktop.LabwcDesktop(ROOT, NATIVE)
        try:
            desk.native.ask(f"open {b'Native'.hex()} 320 240")
            _, _, status, out, err = desktop.answer(TOPLEFT, desk.env, lambda t: b"0\n",
                                                    lambda: desk.signal_labwc(signal.SIGKILL))
            self.assertEqual((status, out, err), (1, b"", b"topleft: labwc closed the connection.\n"))
        finally:
            desk.close()


if __name__ == "__main__":
    TOPLEFT, NATIVE, XPROGRAM = sys.argv[1:4]
    ROOT = debian_root.make_for_test("trixie", "test_labwc")
    desktop.run_tests(sys.argv[:1])
