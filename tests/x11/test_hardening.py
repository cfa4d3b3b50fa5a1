#!/usr/bin/env python3
"""The real topleft on a private X server against what other programs may throw at it: hostile
titles, windows that come and go while it lists and moves, a person's terminal, and a run under
valgrind's memcheck.

Usage: test_hardening.py TOPLEFT X_DESKTOP none|openbox TEST...
(TEST: a test case of this file, such as HostileTitles)
"""
import collections
import os
import pty
import random
import shlex
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import desktop  # noqa: E402

TOPLEFT = FIXTURE = MANAGER = None
PROMPT = desktop.PROMPT
NO_WINDOW = b"No window is listed with that number.\n"
CLOSED = desktop.CLOSED
MIB = 1 << 20


def wait_for(check, what, seconds=20):
    """What check() returns once it is true, or a failure after `seconds`."""
    value = desktop.wait_for(check, seconds)
    if not value:
        raise AssertionError(f"waited {seconds} s for {what}")
    return value


class HostileTitles(unittest.TestCase):
    """Titles are printed byte for byte as decoded, never more than 127 bytes, whatever the
    property holds; a window whose title cannot be read is not listed."""

    # (property settings in the order they are set, the line expected, None for no line)
    CASES = [
        ([("_NET_WM_NAME", "UTF8_STRING", 8, b"Invalid \xff\xfe\xc3( \x80")],
         b"Invalid \xff\xfe\xc3( \x80"),
        # Through a pipe, byte for byte but for line ends, which would make a line of their own.
        ([("_NET_WM_NAME", "UTF8_STRING", 8,
           b"\x1b[31mRed\x1b[0m \x07bell\x08\r\tand\nnew line\x1b]0;terminal title\x07")],
         b"\x1b[31mRed\x1b[0m \x07bell\x08\\x0d\tand\\x0anew line\x1b]0;terminal title\x07"),
        ([("WM_NAME", "STRING", 8, b"Before\x00after")], b"Before"),
        ([("WM_NAME", "STRING", 16, b"Sixteen!")], None),
        ([("WM_NAME", "STRING", 32, b"Thirty-two bits!")], None),
        ([("_NET_WM_NAME", "UTF8_STRING", 32, b"Thirty-two bits!"),
          ("WM_NAME", "STRING", 8, b"Fallback name")], b"Fallback name"),
        ([("_NET_WM_NAME", "CARDINAL", 8, b"cardinal")], None),
        ([("_NET_WM_NAME", "UTF8_STRING", 8, "✓".encode() * (MIB // 3))], "✓".encode() * 42),
        ([("WM_NAME", "STRING", 8, b"\xe9" * MIB)], "é".encode() * 63),
        ([("WM_NAME", "COMPOUND_TEXT", 8, b"Nihongo \x1b$)B\xc6\xfc\xcb\xdc\xb8\xec")],
         b"Nihongo ???"),
        ([("WM_NAME", "COMPOUND_TEXT", 8, b"Cyrillic \x1b-L\xbf\xe0\xd8\xd2\xd5\xe2")],
         b"Cyrillic ??????"),
        ([("WM_NAME", "COMPOUND_TEXT", 8, b"Mixed \xe9 \x1b%G\xe2\x9c\x93\x1b%@ done")],
         "Mixed é ✓ done".encode()),
        ([("WM_NAME", "COMPOUND_TEXT", 8, b"Cut escape \x1b$")], b"Cut escape "),
        ([("WM_NAME", "STRING", 8, b"100%s%n%p%x")], b"100%s%n%p%x"),
        ([("_NET_WM_NAME", "UTF8_STRING", 8, b"a" * 126 + "é".encode())], b"a" * 126),
    ]

    def test_titles_are_written_as_decoded_and_bounded(self):
        desk = desktop.XDesktop(FIXTURE, MANAGER)
        try:
            for settings, _ in self.CASES:
                window = desk.open()
                for prop, kind, format, value in settings:
                    desk.set_title(window, value, prop, kind, format)
            run = subprocess.run([TOPLEFT], env=desk.env, input=b"", capture_output=True,
                                 timeout=60)
        finally:
            desk.close()
        # With no window manager the windows are all there is, topmost (the last opened) first.
        lines = [line for _, line in reversed(self.CASES) if line is not None]
        expected = b"".join(b"Window[%d]: %s\n" % (n, line) for n, line in enumerate(lines))
        self.assertEqual(run.stdout, expected + PROMPT)
        self.assertEqual((run.returncode, run.stderr), (1, b"No number was read.\n"))

    HOSTILE = [b"\x1b]52;c;b3duZWQ=\x07clipboard", b"\x1b[2J\x1b[HWindow[0]: forged",
               b"bell\x07 del\x7f", "CSI \u009b2J as UTF-8".encode(), b"new\nline"]

    def test_on_a_terminal_titles_are_shown_never_obeyed(self):
        # The listing on a pseudo-terminal: no byte a terminal would obey, every title on one line.
        titles = self.shown_on_a_terminal("C.UTF-8")
        for title in (b"\\x1b[2J\\x1b[HWindow[0]: forged", b"\\x1b]52;c;b3duZWQ=\\x07clipboard",
                      b"CSI \\xc2\\x9b2J as UTF-8", b"new\\x0aline"):
            self.assertIn(title, titles)
        # In a single-byte locale the bytes 0x80 to 0x9f are the C1 controls themselves.
        titles = self.shown_on_a_terminal("C")
        self.assertIn(b"CSI \xc2\\x9b2J as UTF-8", titles)
        self.assertFalse(any(0x80 <= byte <= 0x9f for byte in b"".join(titles)))

    def shown_on_a_terminal(self, locale):
        desk = desktop.XDesktop(FIXTURE, MANAGER)
        main, terminal = pty.openpty()
        try:
            for title in self.HOSTILE:
                desk.open(title, prop="_NET_WM_NAME", kind="UTF8_STRING")
            run = subprocess.Popen([TOPLEFT], env=dict(desk.env, LC_ALL=locale), stdin=subprocess.DEVNULL,
                                   stdout=terminal, stderr=subprocess.PIPE)
            os.close(terminal)
            shown = b""
            while True:
                try:
                    chunk = os.read(main, 65536)
                except OSError:  # the terminal's far end closed
                    break
                if not chunk:
                    break
                shown += chunk
            run.wait(timeout=60)
        finally:
            os.close(main)
            desk.close()
        lines = shown.replace(b"\r\n", b"\n").split(b"\n")
        self.assertEqual(lines[-1], PROMPT)
        self.assertEqual(len(lines) - 1, len(self.HOSTILE), lines)
        for control in (b"\x1b", b"\x07", b"\x7f", b"\r", "\u009b".encode()):
            self.assertNotIn(control, b"\n".join(lines))
        return desktop.listed_titles(b"\n".join(lines[:-1]) + b"\n")

    def test_a_huge_title_costs_no_more_than_a_short_one(self):
        desk = desktop.XDesktop(FIXTURE, MANAGER)
        proxy = desktop.DisplayProxy(desk.display)
        try:
            window = desk.open()
            answered = []
            for title in (b"Short", b"H" * MIB):
                desk.set_title(window, title, "_NET_WM_NAME", "UTF8_STRING")
                desk.set_title(window, title, "WM_NAME", "STRING")
                before = proxy.answered
                run = subprocess.run([TOPLEFT], env=dict(desk.env, DISPLAY=proxy.display),
                                     input=b"", capture_output=True, timeout=60)
                self.assertEqual(desktop.titles_before_prompt(run.stdout)[-1], title[:127])
                answered.append(proxy.answered - before)
        finally:
            proxy.close()
            desk.close()
        # Each of the two properties may bring at most 127 bytes more than "Short" did.
        self.assertLess(answered[1] - answered[0], 2 * 128, answered)


class Churn(unittest.TestCase):
    """Windows come and go as fast as the server takes them, and one window keeps changing its
    title, while topleft lists and moves again and again."""

    RUNS = 300
    FLICKER = {b"Flicker", b"Flicker " + b"F" * 119, b"Flicker \xff\xfe\xc3"}

    def run_once(self, typed_for):
        """One run: the listing, the number typed_for(titles) chooses, (titles, number, run)."""
        chosen = []
        titles, _, status, out, err = desktop.answer(
            TOPLEFT, self.desk.env, lambda t: chosen.append(typed_for(t)) or b"%d\n" % chosen[0])
        return titles, chosen[0], (status, out, err)

    def test_listing_and_moving_while_windows_come_and_go(self):
        self.desk = desk = desktop.XDesktop(FIXTURE, MANAGER)
        churner = None
        try:
            stable = {}
            for i in range(3):
                title = b"Stable %d" % i
                at = (40 + 60 * i, 30 + 40 * i)
                stable[title] = (desk.open(title, at=at), at)
            churner = subprocess.Popen([FIXTURE, "churn"], env=desk.env, stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE)
            churner.stdout.readline()
            choose = random.Random(4)
            outcomes = collections.Counter()
            for _ in range(self.RUNS):
                titles, number, outcome = self.run_once(lambda t: choose.randrange(-1, len(t) + 2))
                for title in titles:
                    self.assertLessEqual(len(title), 127)
                    if title.startswith(b"Flicker"):
                        self.assertIn(title, self.FLICKER)
                for title in stable:
                    self.assertEqual(titles.count(title), 1, titles)

                entry = max(number, 0)
                if entry < len(titles):
                    chosen = titles[entry]
                    if chosen in stable:
                        self.assertEqual(outcome, (0, b"", b""), (number, titles))
                        outcomes["moved"] += 1
                        window, _ = stable[chosen]
                        stable[chosen] = (window, (0, 0))
                        self.assertEqual(desk.where(window)[:2], (0, 0))
                    else:
                        # A churning window may have gone by the time the number is read, or
                        # been placed anew by the manager taking it on: said in one line.
                        status, out, err = outcome
                        self.assertEqual(out, b"")
                        if status == 0:
                            self.assertEqual(err, b"")
                        else:
                            self.assertEqual(status, 1)
                            self.assertTrue(err == CLOSED or err.startswith(b'topleft: "' + chosen + b'"'), err)
                            self.assertEqual(err.count(b"\n"), 1, err)
                        outcomes[("moved" if status == 0 else "not moved") + " churning"] += 1
                else:
                    self.assertEqual(outcome, (1, b"", NO_WINDOW), (number, titles))
                    outcomes["refused"] += 1
                # No window the run did not choose has moved.
                for window, at in stable.values():
                    self.assertEqual(desk.where(window)[:2], at)
            churner.stdin.close()
            made = int(churner.stdout.readline())
            self.assertGreater(made, 100, "the windows did not churn")
            print(f"\n{sum(outcomes.values())} runs ({dict(outcomes)}) while {made} windows "
                  "came and went", file=sys.stderr)
        finally:
            if churner:
                desktop.finish(churner)
            desk.close()


class Terminal(unittest.TestCase):
    """A person at a terminal: tmux gives topleft a real pseudo-terminal."""

    def test_session_in_a_pseudo_terminal(self):
        desk = desktop.XDesktop(FIXTURE, MANAGER)
        folder = tempfile.TemporaryDirectory()
        tmux = ["tmux", "-S", os.path.join(folder.name, "socket"), "-f", "/dev/null"]
        env = {name: value for name, value in desk.env.items() if name != "TMUX"}
        server = None

        def screen():
            return subprocess.run(tmux + ["capture-pane", "-p"], capture_output=True, text=True,
                                  env=env, check=True).stdout.rstrip("\n").split("\n")

        try:
            window = desk.open(b"Typed at a terminal", at=(200, 150))
            command = f'{shlex.quote(TOPLEFT)}; echo "exit status $?"; exec sleep 600'
            subprocess.run(tmux + ["new-session", "-d", "-x", "120", "-y", "40", command],
                           env=env, check=True)
            server = int(subprocess.run(tmux + ["display-message", "-p", "#{pid}"], env=env,
                                        capture_output=True, check=True).stdout)

            lines = wait_for(lambda: (lambda s: s if s[-1] == "Select window :" else None)(screen()),
                             "the prompt")
            listing = [line for line in lines[:-1] if line]
            self.assertTrue(all(line.startswith(f"Window[{n}]: ") for n, line in enumerate(listing)),
                            lines)
            number = next(n for n, line in enumerate(listing)
                          if line.endswith(": Typed at a terminal"))
            subprocess.run(tmux + ["send-keys", str(number), "Enter"], env=env, check=True)

            lines = wait_for(lambda: (lambda s: s if "exit status 0" in s else None)(screen()),
                             "topleft to end with status 0")
            self.assertIn(f"Select window : {number}", lines)
            self.assertEqual(lines.index(f"Select window : {number}") + 1,
                             lines.index("exit status 0"))
            self.assertEqual(desk.where(window)[:5], (0, 0, 300, 200, 1))
        finally:
            subprocess.run(tmux + ["kill-server"], env=env, capture_output=True)
            if server:
                try:
                    os.kill(server, 9)
                except ProcessLookupError:
                    pass
            folder.cleanup()
            desk.close()


class Memcheck(unittest.TestCase):
    """One real run, listing and moving, under valgrind's memcheck."""

    def test_no_error_and_nothing_lost(self):
        desk = desktop.XDesktop(FIXTURE, MANAGER)
        try:
            window = desk.open(b"Checked by memcheck")
            huge = desk.open(b"\xe9" * MIB)
            desk.set_title(huge, b"Nihongo \x1b$)B\xc6\xfc", "WM_NAME", "COMPOUND_TEXT")
            for i in range(20):
                desk.open(b"Window %d" % i, at=(300 + 10 * i, 300))
            listing = subprocess.run([TOPLEFT], env=desk.env, input=b"", capture_output=True,
                                     timeout=60).stdout
            titles = desktop.titles_before_prompt(listing)
            with tempfile.NamedTemporaryFile() as log:
                run = subprocess.run(
                    ["valgrind", "--leak-check=full", "--show-leak-kinds=definite,indirect",
                     "--errors-for-leak-kinds=definite,indirect", "--error-exitcode=99",
                     f"--log-file={log.name}", TOPLEFT],
                    env=desk.env, input=b"%d\n" % titles.index(b"Checked by memcheck"),
                    capture_output=True, timeout=600)
                report = log.read().decode(errors="replace")
            self.assertEqual(run.returncode, 0, report)
            self.assertIn("ERROR SUMMARY: 0 errors", report)
            if "All heap blocks were freed" not in report:
                self.assertIn("definitely lost: 0 bytes", report)
                self.assertIn("indirectly lost: 0 bytes", report)
            self.assertEqual(desk.where(window)[:2], (0, 0))
        finally:
            desk.close()


if __name__ == "__main__":
    TOPLEFT, FIXTURE, MANAGER = sys.argv[1:4]
    desktop.run_tests(sys.argv[:1] + sys.argv[4:])
