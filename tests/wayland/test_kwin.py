#!/usr/bin/env python3
"""The real topleft on a headless KWin (KDE Plasma on Wayland), against native Wayland windows
of wl_desktop and X windows of x_desktop under XWayland: every window listed, and each kind moved
to the corner, at its size, made the active window; a minimised one restored first.

Usage: test_kwin.py TOPLEFT WL_DESKTOP X_DESKTOP [SUITE]
With SUITE (trixie: KWin 6.3, forky: Debian testing's KWin), KWin runs from a Debian root of that
suite, made first if need be; where Debian testing's root cannot be made (its archive in a
transition), the test is skipped with the reason (exit status 77).
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, ".."))
import debian_root  # noqa: E402
import desktop  # noqa: E402
import kwin_desktop  # noqa: E402

TOPLEFT = NATIVE = XPROGRAM = ROOT = None


def stacked(desk):
    """KWin's own stacking, topmost first, as desktop.seen_in takes it."""
    seen = sorted(desk.windows().items(), key=lambda entry: -entry[1][6])
    return [(title, place[:4], not place[5]) for title, place in seen]


class TopleftOnKWin(unittest.TestCase, desktop.SeenWithTestPrograms, desktop.AnswerAfterAPause):
    @classmethod
    def setUpClass(cls):
        cls.desk = desk = kwin_desktop.KWinDesktop(NATIVE, XPROGRAM, root=ROOT)
        print(f"KWin {desk.version()}", file=sys.stderr)
        cls.native = {}
        for title in ("Native one", "Native two", "Native minimised", "Native 100% %s %n"):
            cls.native[title] = desk.native.ask(f"open {title.encode().hex()} 320 240")
        desk.native.ask("open - 200 100")  # untitled
        cls.x = {}
        for title in ("X one", "X two"):
            window = desk.x.ask("open 100 100 300 200 mapped")
            desk.x.ask(f"title {window} WM_NAME STRING 8 {title.encode().hex()}")
            cls.x[title] = window
        desk.wait(lambda: all(title in desk.windows() for title in cls.x), "the X windows' titles")
        desk.minimise("Native minimised")

    @classmethod
    def tearDownClass(cls):
        cls.desk.close()

    # What the shared case of a person's answer needs of this desktop.
    topleft = property(lambda self: TOPLEFT)
    env = property(lambda self: self.desk.env)

    def pause_windows(self):
        return b"Native two", b"Native one"

    def raise_window(self, title):
        self.desk.activate(title.decode())
        self.desk.wait(lambda: self.raised(title), "the window to be active", 10)

    def raised(self, title):
        return bool(self.desk.windows()[title.decode()][4])

    def pause_places(self):
        self.desk.settle()
        return {title.encode(): place[:4] for title, place in self.desk.windows().items()
                if title != "Native minimised" and title in list(self.native) + list(self.x)}

    def pause_corner(self):
        return self.desk.placement_area()[:2]

    def name(self, title):
        return title.decode()

    def stage(self, title, kind):
        self.desk.stage(title.decode(), kind)

    def settle(self):
        self.desk.wait(lambda: {t for t in self.desk.windows() if t} == set(self.native) | set(self.x), "the windows")
        self.desk.settle()

    def where(self, title):
        return self.desk.windows()[title.decode()][:4]

    def stacked(self):
        return stacked(self.desk)

    def run_topleft(self, typed, env=None, timeout=60):
        return subprocess.run([TOPLEFT], env=env or self.desk.env, input=typed, capture_output=True,
                              timeout=timeout)

    def test_every_titled_window_is_listed_topmost_first(self):
        run = self.run_topleft(b"")
        self.assertEqual((run.returncode, run.stderr), (1, b"No number was read.\n"))
        titles = [title.decode() for title in desktop.titles_before_prompt(run.stdout)]
        self.assertEqual(sorted(titles), sorted(list(self.native) + list(self.x)))
        seen = self.desk.windows()
        by_stacking = sorted(titles, key=lambda title: -seen[title][6])
        self.assertEqual(titles, by_stacking)

    def assert_moves(self, title):
        self.desk.settle()
        before = self.desk.windows()[title]
        _, _, status, out, err = desktop.answer(
            TOPLEFT, self.desk.env, lambda titles: b"%d\n" % titles.index(title.encode()))
        self.assertEqual((status, out, err), (0, b"", b""))
        after = self.desk.windows()
        x, y, width, height, active, minimised, order = after[title][:7]
        self.assertEqual((x, y, width, height, active, minimised), (0, 0, before[2], before[3], True, False))
        self.assertEqual(order, max(entry[6] for entry in after.values()), "not the highest")

    def test_moves(self):
        for title in ("Native one", "X one", "Native two", "X two"):
            with self.subTest(title=title):
                self.assert_moves(title)

    def test_minimised_window_is_restored(self):
        self.assertTrue(self.desk.windows()["Native minimised"][5])
        self.assert_moves("Native minimised")

    def test_bad_numbers_move_nothing(self):
        self.desk.settle()
        before = self.desk.windows()
        for typed, message in ((b"%d\n" % len(before), b"No window is listed with that number.\n"),
                               (b"x\n", b"No number was read.\n")):
            run = self.run_topleft(typed)
            self.assertEqual((run.returncode, run.stderr), (1, message))
        self.assertEqual(self.desk.windows(), before)

    def test_window_closed_before_the_answer(self):
        self.assertEqual(desktop.answer_after_closing(TOPLEFT, self.desk.env, self.desk.native),
                         (1, b"", desktop.CLOSED))

    def test_no_script_is_left_behind(self):
        self.run_topleft(b"0\n")
        self.assertEqual([name for name in os.listdir(self.desk.folder)
                          if name.startswith("topleft-") and name.endswith(".js")], [])

    def test_kwin_not_answering(self):
        self.desk.signal_kwin(signal.SIGSTOP)
        try:
            started = time.monotonic()
            run = self.run_topleft(b"0\n")
            waited = time.monotonic() - started
        finally:
            self.desk.signal_kwin(signal.SIGCONT)
        self.assertEqual((run.returncode, run.stdout), (1, b""))
        self.assertEqual(run.stderr.count(b"\n"), 1, run.stderr)
        self.assertIn(b"KWin", run.stderr)
        self.assertLess(waited, 30)

    def test_only_kwins_own_answer_counts(self):
        # While a move is under way, a program of the session answers in KWin's place: with a token
        # of its own, and with an earlier script's (the listing's, overheard on the bus). topleft
        # hears neither, and reports what KWin said. KWin is held a moment so that they come first.
        if ROOT:
            self.skipTest("checked against this machine's KWin; the scripts are the same on every KWin")
        monitor = subprocess.Popen(["busctl", f"--address={self.desk.address}", "monitor", "--json=short",
                                    "--match", "member=Report"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   text=True)
        overheard = []  # (destination, token) of each report

        def listen():
            for line in monitor.stdout:
                message = json.loads(line)
                overheard.append((message["destination"], message["payload"]["data"][0]))

        def forge():
            destination, earlier = overheard[0]
            for token in (earlier, "0" * 32):
                subprocess.run(["busctl", f"--address={self.desk.address}", "call", "--expect-reply=no", destination,
                                "/topleft", "org.topleft.Script", "Report", "ss", token, '{"gone": true}'], check=True)
            self.desk.signal_kwin(signal.SIGCONT)

        def meanwhile():
            self.assertTrue(desktop.wait_for(lambda: overheard, 10), "no report overheard")
            self.desk.signal_kwin(signal.SIGSTOP)
            threading.Timer(0.5, forge).start()

        title = "Native one"
        listener = threading.Thread(target=listen, daemon=True)
        try:
            monitor.stderr.readline()  # monitoring from now on
            listener.start()
            _, _, status, out, err = desktop.answer(TOPLEFT, self.desk.env,
                                                    lambda titles: b"%d\n" % titles.index(title.encode()), meanwhile)
        finally:
            self.desk.signal_kwin(signal.SIGCONT)
            desktop.stop(monitor)
            if listener.is_alive():
                listener.join(10)
            monitor.stdout.close()
            monitor.stderr.close()
        self.assertEqual((status, out, err), (0, b"", b""))
        self.assertEqual(self.desk.windows()[title][:2], (0, 0))

    def test_zy_window_goes_below_an_x11_dock(self):
        # An X11 dock reserving 40 pixels along the top, through XWayland.
        panel = self.desk.x.ask("open 0 0 1280 40 mapped panel top 40")
        try:
            if not desktop.wait_for(lambda: self.desk.placement_area()[1] == 40, 10):
                self.skipTest(f"KWin {self.desk.version()} reserves no space for an X11 dock's strut")
            self.move_below_the_panel("Native two")
        finally:
            self.desk.x.ask(f"destroy {panel}")

    def test_zz_window_goes_below_a_wayland_panel(self):
        # Last: the panel stays. A layer surface 40 pixels deep, which KWin keeps in a layer above
        # the windows.
        self.assertEqual(self.desk.native.ask("panel top 40"), "ok")
        self.assertTrue(desktop.wait_for(lambda: self.desk.placement_area()[1] == 40, 10),
                        f"KWin {self.desk.version()} reserves no space for a layer-shell panel")
        self.move_below_the_panel("Native one")

    def move_below_the_panel(self, title):
        self.desk.settle()
        before = self.desk.windows()[title]
        _, _, status, out, err = desktop.answer(TOPLEFT, self.desk.env,
                                                lambda titles: b"%d\n" % titles.index(title.encode()))
        self.assertEqual((status, out, err), (0, b"", b""))
        self.assertEqual(self.desk.windows()[title][:4], (0, 40) + before[2:4])

    def test_kwin_gone(self):
        # A session bus without KWin and no X display: nothing to reach.
        bus, address = desktop.start_session_bus(tempfile.mkdtemp(dir=self.desk.folder))
        try:
            env = dict(self.desk.env, DBUS_SESSION_BUS_ADDRESS=address)
            del env["DISPLAY"]
            run = self.run_topleft(b"0\n", env)
        finally:
            desktop.stop(bus)
        self.assertEqual((run.returncode, run.stdout), (1, b""))
        self.assertEqual(run.stderr.count(b"\n"), 1, run.stderr)


class OnTwoOutputs(desktop.OnTwoMonitors, unittest.TestCase):
    """Two outputs side by side: a window maximised on the right one, chosen, is maximised on the
    left one, where the corner is."""
    topleft = property(lambda self: TOPLEFT)

    @classmethod
    def setUpClass(cls):
        cls.desk = kwin_desktop.KWinDesktop(NATIVE, root=ROOT, outputs=2)

    def windows(self):
        return self.desk.windows()

    def pause_corner(self):
        return self.desk.placement_area()[:2]

    def shows(self, title):
        return desktop.seen_in(stacked(self.desk), title.decode())


if __name__ == "__main__":
    TOPLEFT, NATIVE, XPROGRAM = sys.argv[1:4]
    if len(sys.argv) > 4:
        ROOT = debian_root.make_for_test(sys.argv[4], "test_kwin")
    desktop.run_tests(sys.argv[:1])
