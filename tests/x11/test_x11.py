#!/usr/bin/env python3
"""The real topleft on a private X server, against the windows of x_desktop, with no window
manager or under openbox.

Usage: test_x11.py TOPLEFT X_DESKTOP none|openbox [TEST...]
(TEST: a test case of this file: TopleftOnX11, or RunScript, which builds with scripts/run)
"""
import os
import re
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import desktop  # noqa: E402

TOPLEFT = FIXTURE = MANAGER = RUN = None
SIZE = (300, 200)  # of every window the desktop opens


class XDesktop(desktop.XDesktop):
    def topleft(self, typed, env=None):
        return subprocess.run([TOPLEFT], env=env or self.env, input=typed, capture_output=True,
                              timeout=60)


LATIN1 = b"Caf\xe9 na\xefve"
UTF8 = "né ✓ ünïcödé".encode()


class TopleftOnX11(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.desk = desk = XDesktop(FIXTURE, MANAGER)
        cls.windows = {}
        cls.titles = {}

        def open_(name, title, **options):
            cls.windows[name] = desk.open(title, **options)
            cls.titles[name] = title

        # Hidden first, so lowest: no move raises it, and a hidden window one could not see may
        # stay above the others under a manager.
        open_("hidden", b"Hidden window", state="hidden")
        open_("lower", b"Stack lower")
        open_("upper", b"Stack upper")
        open_("iconic", b"Iconic window", state="iconic")
        open_("untitled", None)
        open_("empty", b"")
        desk.set_title(cls.windows["empty"], b"", prop="_NET_WM_NAME", kind="UTF8_STRING")
        open_("t127", b"T" * 127)
        open_("t200", b"L" * 200)
        open_("utf8cut", "é".encode() * 70, prop="_NET_WM_NAME", kind="UTF8_STRING")
        open_("latin1", LATIN1)
        open_("preferred", b"legacy name")
        desk.set_title(cls.windows["preferred"], UTF8, prop="_NET_WM_NAME", kind="UTF8_STRING")
        cls.titles["preferred"] = UTF8
        open_("utf8name", UTF8 + b" in WM_NAME", kind="UTF8_STRING")
        open_("twin1", b"Twin")
        open_("twin2", b"Twin")
        open_("percent", b"100% %s %n %d")
        open_("static", b"Static gravity", extra="static")
        open_("huge", b"M" * (1 << 20), prop="_NET_WM_NAME", kind="UTF8_STRING")

    @classmethod
    def tearDownClass(cls):
        cls.desk.close()

    def listing(self):
        run = self.desk.topleft(b"")
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stderr, b"No number was read.\n")
        return desktop.titles_before_prompt(run.stdout)

    def test_listing(self):
        titles = self.listing()
        expected = [b"Stack lower", b"Stack upper", b"Hidden window", b"Iconic window",
                    b"T" * 127, b"L" * 127, "é".encode() * 63, "Café naïve".encode(), UTF8,
                    UTF8 + b" in WM_NAME", b"100% %s %n %d", b"Static gravity", b"M" * 127]
        for title in expected:
            self.assertEqual(titles.count(title), 1, title)
        self.assertEqual(titles.count(b"Twin"), 2)
        self.assertNotIn(b"legacy name", titles)
        self.assertTrue(all(0 < len(title) <= 127 for title in titles))
        self.assertLess(titles.index(b"Stack upper"), titles.index(b"Stack lower"), "not topmost first")

    def listed_number(self, name, titles):
        if name == "twin2":
            # The later twin is stacked above the earlier one: it is listed first.
            return titles.index(b"Twin")
        return titles.index(self.titles[name])

    def assert_moves(self, name, typed_for_number):
        window = self.windows[name]
        before = {other: self.desk.where(w) for other, w in self.windows.items()}
        _, _, status, out, err = desktop.answer(
            TOPLEFT, self.desk.env, lambda titles: typed_for_number(self.listed_number(name, titles)))
        self.assertEqual((status, out, err), (0, b"", b""))
        # Read back at once: topleft ends with 0 only once the window is there.
        self.assertEqual(self.desk.where(window)[:5], (0, 0) + SIZE + (1,), "not at the corner, on top")
        for other, w in self.windows.items():
            if other != name and before[other] is not None:
                self.assertEqual(self.desk.where(w)[:4], before[other][:4], other)

    def test_moves(self):
        self.assert_moves("lower", lambda n: b"%d\n" % n)
        self.assert_moves("t127", lambda n: b"  \n+%dabc" % n)
        self.assert_moves("twin2", lambda n: b"%d" % n)
        self.assert_moves("static", lambda n: b"%d\n" % n)

    def test_hidden_window_is_moved_but_left_hidden_and_reported(self):
        # A window of its own: raised while unmapped, it may stay above every other.
        hidden = self.desk.open(b"Kept hidden", state="hidden")
        try:
            _, _, status, out, err = desktop.answer(TOPLEFT, self.desk.env,
                                                    lambda titles: b"%d\n" % titles.index(b"Kept hidden"))
            self.assertEqual((status, out, err), (1, b"", b'topleft: "Kept hidden" is hidden.\n'))
            x, y, width, height, _, _, shown = self.desk.where(hidden)
            self.assertEqual((x, y, width, height, shown), (0, 0) + SIZE + (0,))
        finally:
            self.desk.ask(f"destroy {hidden}")

    def test_negative_number_moves_the_first_listed_window(self):
        first = self.listing()[0]
        names = [name for name, title in self.titles.items() if title == first]
        self.assertEqual(len(names), 1, first)
        if names[0] != "hidden":
            self.assert_moves(names[0], lambda n: b"-99999999999\n")
            return
        # openbox keeps a window it does not manage (one never shown) above its own.
        run = self.desk.topleft(b"-99999999999\n")
        self.assertEqual((run.returncode, run.stderr), (1, b'topleft: "Hidden window" is hidden.\n'))
        self.assertEqual(self.desk.where(self.windows["hidden"])[:2], (0, 0))

    def test_bad_input_moves_nothing(self):
        count = len(self.listing())
        before = {name: self.desk.where(w) for name, w in self.windows.items()}
        for typed, message in ((b"%d\n" % count, b"No window is listed with that number.\n"),
                               (b"4294967298\n", b"No window is listed with that number.\n"),
                               (b"nothing\n", b"No number was read.\n")):
            with self.subTest(typed=typed):
                run = self.desk.topleft(typed)
                self.assertEqual((run.returncode, run.stderr), (1, message))
        time.sleep(0.2)
        self.assertEqual({name: self.desk.where(w) for name, w in self.windows.items()}, before)

    def test_window_closed_after_listing_is_reported(self):
        doomed = self.desk.open(b"Doomed window")
        _, _, status, out, err = desktop.answer(
            TOPLEFT, self.desk.env, lambda titles: b"%d\n" % titles.index(b"Doomed window"),
            lambda: self.desk.ask(f"destroy {doomed}"))
        self.assertEqual((status, out), (1, b""))
        self.assertEqual(err, b"topleft: the window closed before it could be moved.\n")

    def test_a_server_that_stops_answering_ends_the_run_within_seconds(self):
        # The X server stopped (as under a grab another client holds): before topleft connects, and
        # while it waits at the prompt, the run ends with one line and exit 1 within its bound.
        def stopped():
            self.desk.xvfb.send_signal(signal.SIGSTOP)

        try:
            stopped()
            started = time.monotonic()
            run = self.desk.topleft(b"0\n")
            waited = time.monotonic() - started
            self.desk.xvfb.send_signal(signal.SIGCONT)
            self.assertEqual((run.returncode, run.stdout), (1, b""))
            self.assertEqual(run.stderr, f"topleft: the X server at {self.desk.display} did not answer.\n".encode())
            self.assertLess(waited, 10)

            started = time.monotonic()
            _, _, status, out, err = desktop.answer(TOPLEFT, self.desk.env,
                                                    lambda titles: b"%d\n" % titles.index(b"Stack lower"), stopped)
            waited = time.monotonic() - started
        finally:
            self.desk.xvfb.send_signal(signal.SIGCONT)
        self.assertEqual((status, out, err), (1, b"", b"topleft: the X server did not answer.\n"))
        self.assertLess(waited, 10)

    def test_arguments_touch_nothing(self):
        before = {name: self.desk.where(w) for name, w in self.windows.items()}
        env = {name: value for name, value in self.desk.env.items() if name != "DISPLAY"}
        for environment in (self.desk.env, env):  # --help needs no desktop
            desktop.assert_arguments_answered(
                self, lambda arguments: subprocess.run([TOPLEFT, *arguments], env=environment, input=b"0\n",
                                                       capture_output=True, timeout=60))
        self.assertEqual({name: self.desk.where(w) for name, w in self.windows.items()}, before)

    def test_the_prompt_waits_asleep(self):
        # Nothing wakes topleft while the person reads: counted in the kernel's tally of the times
        # the process was switched to, which a timer's every tick adds to.
        def switches(pid):
            with open(f"/proc/{pid}/status") as status:
                return sum(int(line.split()[1]) for line in status if "ctxt_switches" in line)

        tool = subprocess.Popen([TOPLEFT], env=self.desk.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        try:
            desktop.read_until(tool.stdout, desktop.PROMPT)
            time.sleep(0.5)  # time for a last tick of the wait that made the listing
            before = switches(tool.pid)
            time.sleep(1.5)
            after = switches(tool.pid)
            tool.communicate(b"none\n", timeout=60)
        finally:
            desktop.stop(tool)
        self.assertEqual(after, before)

    def test_the_libraries_of_other_desktops_are_not_needed(self):
        # sd-bus's, simdjson's and libwayland-client's libraries made unloadable: an X11 run lists and
        # moves without them; a Wayland session, whose desktop only they can tell, says in one line
        # what is missing.
        listing = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True, check=True).stdout
        hidden = [argument for name in ("libsystemd.so.0", "libsimdjson.so", "libwayland-client.so.0") for argument in
                  ("--ro-bind", "/dev/null", os.path.realpath(re.search(rf"\s{name}\S* .* => (\S+)", listing)[1]))]
        without = ["bwrap", "--dev-bind", "/", "/", *hidden, TOPLEFT]
        window = self.desk.open(b"Moved without them", at=(200, 150))
        try:
            _, _, status, out, err = desktop.answer(without, self.desk.env,
                                                    lambda titles: b"%d\n" % titles.index(b"Moved without them"))
            self.assertEqual((status, out, err), (0, b"", b""))
            self.assertEqual(self.desk.where(window)[:2], (0, 0))
        finally:
            self.desk.ask(f"destroy {window}")
        wayland = dict(self.desk.env, WAYLAND_DISPLAY="wayland-gone", XDG_SESSION_TYPE="wayland")
        run = subprocess.run(without, env=wayland, input=b"0\n", capture_output=True, timeout=60)
        self.assertEqual((run.returncode, run.stdout), (1, b""))
        self.assertRegex(run.stderr, rb"^topleft: libwayland-client\.so\.0, .* cannot be loaded: .*\.\n$")

    def test_unreachable_display(self):
        number = 1000
        while os.path.exists(f"/tmp/.X11-unix/X{number}"):
            number += 1
        for display in (f":{number}", None):
            env = dict(self.desk.env)
            if display:
                env["DISPLAY"] = display
            else:
                del env["DISPLAY"]
            with self.subTest(display=display):
                run = self.desk.topleft(b"0\n", env=env)
                self.assertEqual((run.returncode, run.stdout), (1, b""))
                self.assertEqual(run.stderr.count(b"\n"), 1)
                self.assertIn((display or "DISPLAY is not set").encode(), run.stderr)


class RunScript(unittest.TestCase):
    """The README's first command, scripts/run, where a desktop is reachable (a private X server
    with a window manager): it builds topleft and runs it on that desktop, not on a demo."""

    def test_lists_the_desktop_it_finds_and_moves_the_window_typed(self):
        desk = XDesktop(FIXTURE, MANAGER)
        try:
            window = desk.open(b"Found by scripts/run", at=(200, 150))
            titles, _, status, out, err = desktop.answer(
                RUN, desk.env, lambda titles: b"%d\n" % titles.index(b"Found by scripts/run"), limit=900)
            self.assertEqual((status, out), (0, b""), err)
            self.assertEqual(desk.where(window)[:5], (0, 0) + SIZE + (1,))
        finally:
            desk.close()


if __name__ == "__main__":
    TOPLEFT, FIXTURE, MANAGER = sys.argv[1:4]
    RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "run")
    desktop.run_tests(sys.argv[:1] + sys.argv[4:])
