#!/usr/bin/env python3
"""The real topleft.exe under Wine, on a private X server, against the windows of wine_desktop.exe.

Usage: test_wine.py TOPLEFT_EXE WINE_DESKTOP_EXE
"""
import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import tty
import unittest
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import desktop  # noqa: E402

TOPLEFT = FIXTURE = None
PROMPT = desktop.PROMPT


def console_text(drawn):
    """The text Wine's console drew on a pseudo-terminal, without its drawing: it moves the cursor
    forward for blanks, and hides and shows it around every character."""
    spaced = re.sub(rb"\x1b\[(\d*)C", lambda forward: b" " * int(forward.group(1) or 1), drawn)
    return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", spaced).replace(b"\r", b"")


class WineDesktop:
    """Xvfb, a fresh Wine prefix with a persistent server, and the fixture's windows."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="topleft-wine-")
        self.xvfb, display = desktop.start_xvfb()
        self.env = dict(os.environ, DISPLAY=display, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        WINEPREFIX=os.path.join(self.folder, "prefix"))
        self.fixture = None
        try:
            # Our own persistent server, so that its id is ours to stop.
            os.mkdir(self.env["WINEPREFIX"])
            self.wineserver = subprocess.Popen(["wineserver", "-p", "-f"], env=self.env)
            self.wine(["wineboot", "-i"], timeout=300)
            # A cold server can hand the next process an empty window list: warm it up first.
            self.wine(["wine", FIXTURE, "warm-up"])
            self.fixture = subprocess.Popen(["wine", FIXTURE, "serve"], env=self.env,
                                            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            if desktop.read_until(self.fixture.stdout, b"ready\n") != b"ready\n":
                raise RuntimeError("the fixture did not open its windows")
        except BaseException:
            self.close()
            raise

    def wine(self, command, timeout=60, input=b""):
        """Runs a Wine program to its end. Its output goes through files, not pipes: Wine's own
        background processes may inherit the descriptors and would hold a pipe open."""
        with tempfile.TemporaryFile() as stdin, tempfile.TemporaryFile() as stdout, \
                tempfile.TemporaryFile() as stderr:
            stdin.write(input)
            stdin.seek(0)
            process = subprocess.Popen(command, env=self.env, stdin=stdin, stdout=stdout, stderr=stderr)
            try:
                process.wait(timeout=timeout)
            finally:
                desktop.stop(process)
            stdout.seek(0)
            stderr.seek(0)
            return subprocess.CompletedProcess(command, process.returncode, stdout.read(), stderr.read())

    def enumeration(self):
        """user32's own enumeration of titled top-level windows, in the listing's format."""
        return self.wine(["wine", FIXTURE, "enum"]).stdout

    def state(self):
        """(handle, visible, minimised, left, top, width, height, title) per titled window."""
        rows = []
        for line in self.wine(["wine", FIXTURE, "state"]).stdout.splitlines():
            handle, visible, iconic, left, top, right, bottom, title = line.split(b"\t", 7)
            left, top, right, bottom = map(int, (left, top, right, bottom))
            rows.append((int(handle), visible == b"1", iconic == b"1", left, top,
                         right - left, bottom - top, title))
        return rows

    def topleft(self, typed, arguments=()):
        """Runs the tool; its text-mode line ends (CR LF) are read back as plain line feeds."""
        run = self.wine(["wine", TOPLEFT, *arguments], input=typed)
        run.stdout = run.stdout.replace(b"\r\n", b"\n")
        run.stderr = run.stderr.replace(b"\r\n", b"\n")
        return run

    def close_windows(self, title):
        self.fixture.stdin.write(b"close " + title + b"\n")
        self.fixture.stdin.flush()
        return desktop.read_until(self.fixture.stdout, b"closed\n")

    def close(self):
        if self.fixture:
            desktop.finish(self.fixture)
        if getattr(self, "wineserver", None):
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=60)
            desktop.stop(self.wineserver)
        desktop.stop(self.xvfb)
        shutil.rmtree(self.folder, ignore_errors=True)


class TopleftUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.desk = WineDesktop()

    @classmethod
    def tearDownClass(cls):
        cls.desk.close()

    def number_of(self, title):
        titles = desktop.listed_titles(self.desk.enumeration())
        return titles.index(title)

    def assert_moved(self, title, typed_for_number):
        before = {row[0]: row for row in self.desk.state()}
        number = self.number_of(title)
        handle = [row[0] for row in self.desk.state() if row[7] == title][0]
        run = self.desk.topleft(typed_for_number(number))
        self.assertEqual((run.returncode, run.stderr), (0, b""))
        after = self.desk.state()
        moved = [row for row in after if row[0] == handle][0]
        self.assertEqual(moved[3:5], (0, 0))
        self.assertEqual(moved[5:7], before[handle][5:7], "size changed")
        first_visible = [row for row in after if row[1]][0]
        self.assertEqual(first_visible[0], handle, "not on top of the visible windows")
        for row in after:
            if row[0] != handle:
                self.assertEqual(row[3:], before[row[0]][3:], "another window moved")

    def test_listing_is_user32s_enumeration(self):
        before = self.desk.enumeration()
        run = self.desk.topleft(b"no number\n")
        after = self.desk.enumeration()
        listing = run.stdout[:-len(PROMPT)]
        self.assertEqual(run.stdout[-len(PROMPT):], PROMPT)
        self.assertEqual(listing, before)
        self.assertEqual(listing, after)

        titles = desktop.listed_titles(listing)
        self.assertIn(b"Default IME", titles)
        for title in (b"Fixture visible A", b"Fixture hidden", b"Fixture minimised",
                      b"Fixture 100% %s %n %d", b"Fixture long 127 " + b"x" * 110):
            self.assertEqual(titles.count(title), 1, title)
        self.assertEqual(titles.count(b"Fixture twin"), 2)
        self.assertIn(b"Fixture long 200 " + b"y" * 110, titles)
        self.assertTrue(all(0 < len(t) <= 127 for t in titles))

    def test_titles_beyond_code_page_1252_are_listed_whole_in_utf8(self):
        titles = desktop.listed_titles(self.desk.topleft(b"x\n").stdout[:-len(PROMPT)])
        self.assertIn("Fixture wide Café ☕ Ж".encode(), titles)
        # 127 bytes would end inside the 55th two-byte character: the cut comes before it.
        self.assertIn("Fixture wide long ".encode() + "Ж".encode() * 54, titles)

    def test_the_console_shows_titles_in_topleft_s_code_page_then_has_its_own_back(self):
        # In a console (Wine makes one on a pseudo-terminal, drawn with its own escape sequences):
        # the code page as it was before the run, and after; a title's controls shown as text.
        main, terminal = pty.openpty()
        tty.setraw(terminal)  # the console reads Enter as a carriage return, as a keyboard gives it
        run = subprocess.Popen(["wine", FIXTURE, "around", TOPLEFT], env=self.desk.env, stdin=terminal,
                               stdout=terminal, stderr=terminal)
        os.close(terminal)
        shown, typed = b"", False
        try:
            while True:
                if not select.select([main], [], [], 60)[0]:
                    break
                try:
                    chunk = os.read(main, 65536)
                except OSError:  # the far end closed
                    break
                if not chunk:
                    break
                shown += chunk
                if not typed and PROMPT.strip() in console_text(shown):
                    os.write(main, b"x\r")
                    typed = True
            run.wait(timeout=60)
        finally:
            desktop.stop(run)
            os.close(main)
        lines = [line for line in console_text(shown).split(b"\n") if line]
        before, after = int(lines[0]), int(lines[-1])
        self.assertNotEqual(before, 65001, "the console was UTF-8 already: a change would not show")
        self.assertEqual(after, before)
        self.assertTrue(any(line.endswith(b"Fixture \\x1b[31mred\\x1b[0m \\x07") for line in lines), lines)

    def test_chosen_window_moves_to_the_corner_and_the_top(self):
        self.assert_moved(b"Fixture visible A", lambda n: b"%d\n" % n)
        self.assert_moved(b"Fixture 100% %s %n %d", lambda n: b"  \n +%dxyz\n" % n)
        self.assert_moved(b"Fixture long 127 " + b"x" * 110, lambda n: b"%d" % n)

    def test_negative_number_moves_the_first_listed_window(self):
        first = desktop.listed_titles(self.desk.enumeration())[0]
        self.assertNotEqual(first, b"Default IME")
        self.assert_moved(first, lambda n: b"-4294967298\n")

    def test_bad_input_moves_nothing(self):
        count = len(desktop.listed_titles(self.desk.enumeration()))
        for typed, message in ((b"%d\n" % count, b"No window is listed with that number."),
                               (b"2147483648\n", b"No window is listed with that number."),
                               (b"4294967298\n", b"No window is listed with that number."),
                               (b"letters\n", b"No number was read."),
                               (b"", b"No number was read.")):
            with self.subTest(typed=typed):
                before = self.desk.state()
                run = self.desk.topleft(typed)
                self.assertEqual(run.returncode, 1)
                self.assertEqual(run.stderr.strip(), message)
                self.assertTrue(run.stdout.endswith(PROMPT))
                self.assertEqual(self.desk.state(), before)

    def test_arguments_touch_nothing(self):
        before = self.desk.state()
        desktop.assert_arguments_answered(self, lambda arguments: self.desk.topleft(b"0\n", arguments))
        self.assertEqual(self.desk.state(), before)

    def assert_not_moved(self, title, message):
        before = self.desk.state()
        run = self.desk.topleft(b"%d\n" % self.number_of(title))
        self.assertEqual((run.returncode, run.stderr), (1, message))
        self.assertEqual({row[0]: row[3:7] for row in self.desk.state()},
                         {row[0]: row[3:7] for row in before})

    def test_window_refusing_the_move_is_reported(self):
        self.assert_not_moved(b"Fixture refuses",
                              b'topleft: "Fixture refuses" is at (390, 300), not at the corner.\n')

    def test_hidden_window_is_moved_left_hidden_and_reported(self):
        title = b"Fixture hidden"
        run = self.desk.topleft(b"%d\n" % self.number_of(title))
        self.assertEqual((run.returncode, run.stderr), (1, b'topleft: "Fixture hidden" is hidden.\n'))
        hidden = [row for row in self.desk.state() if row[7] == title][0]
        self.assertEqual((hidden[1], hidden[3:5]), (False, (0, 0)))

    def test_window_landing_elsewhere_is_reported(self):
        run = self.desk.topleft(b"%d\n" % self.number_of(b"Fixture shifts"))
        self.assertEqual((run.returncode, run.stderr),
                         (1, b'topleft: "Fixture shifts" is at (12, 40), not at the corner.\n'))
        moved = [row for row in self.desk.state() if row[7] == b"Fixture shifts"][0]
        self.assertEqual(moved[3:5], (12, 40))

    def test_window_not_responding_is_reported_and_holds_nothing_up(self):
        self.desk.fixture.stdin.write(b"hang\n")
        self.desk.fixture.stdin.flush()
        self.assertEqual(desktop.read_until(self.desk.fixture.stdout, b"hung\n"), b"hung\n")
        self.assert_not_moved(b"Fixture hung",
                              b'topleft: "Fixture hung" is not responding; it was not moved.\n')

    def test_minimised_window_is_shown_again_at_the_corner(self):
        title = b"Fixture seen then minimised"
        before = [row for row in self.desk.state() if row[7] == title][0]
        self.assertTrue(before[2], "not minimised to begin with")
        run = self.desk.topleft(b"%d\n" % self.number_of(title))
        self.assertEqual((run.returncode, run.stderr), (0, b""))
        after = self.desk.state()
        moved = [row for row in after if row[0] == before[0]][0]
        # Shown, no longer minimised, at the corner with the size it had before it was minimised.
        self.assertEqual(moved[1:7], (True, False, 0, 0, 280, 190))
        self.assertEqual([row for row in after if row[1]][0][0], before[0], "not on top")

    def test_window_left_under_others_is_reported(self):
        title = b"Fixture stays under"
        # Another window on top first, whatever ran before.
        self.assertEqual(self.desk.topleft(b"%d\n" % self.number_of(b"Fixture visible A")).returncode, 0)
        run = self.desk.topleft(b"%d\n" % self.number_of(title))
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stderr, b'topleft: "Fixture stays under" could not be moved: '
                                     b'"Fixture partner" stayed above it.\n')
        # It was put at the corner all the same, right under its partner.
        after = self.desk.state()
        self.assertEqual([row for row in after if row[7] == title][0][3:5], (0, 0))
        self.assertEqual([row[7] for row in after if row[1]][:2], [b"Fixture partner", title])

    def test_prompt_is_shown_before_input_and_a_closed_window_is_reported(self):
        title = b"Fixture visible B"
        tool = subprocess.Popen(["wine", TOPLEFT], env=self.desk.env, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            shown = desktop.read_until(tool.stdout, PROMPT).replace(b"\r\n", b"\n")
            self.assertTrue(shown.endswith(PROMPT), "prompt not flushed before the read")
            titles = desktop.listed_titles(shown[:-len(PROMPT)])
            number = titles.index(title)
            self.assertEqual(self.desk.close_windows(title), b"closed\n")
            out, err = tool.communicate(b"%d\n" % number, timeout=60)
        finally:
            desktop.stop(tool)
        self.assertEqual((tool.returncode, out), (1, b""))
        self.assertEqual(err.replace(b"\r\n", b"\n"), b"topleft: the window closed before it could be moved.\n")
        self.assertNotIn(title, self.desk.enumeration())


class Manifest(unittest.TestCase):
    def test_program_declares_per_monitor_dpi_awareness_and_utf8(self):
        """The manifest, read from the program's resources (type 24, RT_MANIFEST)."""
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run(["wrestool", "-x", "--raw", "--type=24", "-o", folder, TOPLEFT], check=True)
            names = os.listdir(folder)
            self.assertEqual(len(names), 1, names)
            manifest = ElementTree.parse(os.path.join(folder, names[0])).getroot()
        settings = {element.tag.split("}")[1]: element.text for element in manifest.iter()
                    if element.tag.endswith(("}dpiAware", "}dpiAwareness", "}activeCodePage"))}
        self.assertEqual(settings, {"dpiAware": "true/pm", "dpiAwareness": "PerMonitorV2", "activeCodePage": "UTF-8"})


if __name__ == "__main__":
    TOPLEFT, FIXTURE = sys.argv[1], sys.argv[2]
    desktop.run_tests(sys.argv[:1])
