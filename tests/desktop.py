"""Shared by the end-to-end tests and the benchmark: a private X server, a window manager on it,
the X test program that opens windows, a proxy display, and processes stopped by their own ids."""
import os
import queue
import signal
import socket
import subprocess
import threading
import time

PROMPT = b"Select window : "


def start_xvfb(width=1280, height=1024):
    """Starts Xvfb on a free display number; returns (process, display name)."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
         "-nolisten", "tcp", "-noreset"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb") as announcement:
        while not number.endswith(b"\n"):
            chunk = announcement.read(1)
            if not chunk:
                stop(server)
                raise RuntimeError("Xvfb did not announce its display")
            number += chunk
    return server, ":" + number.decode().strip()


def stop(process, grace=5):
    """Stops one process we started, by its id, and reaps it."""
    if process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def read_until(stream, ending, limit=1 << 24):
    """Reads raw bytes from a pipe until they end with `ending` or the pipe closes."""
    data = b""
    while not data.endswith(ending) and len(data) < limit:
        chunk = os.read(stream.fileno(), 65536)
        if not chunk:
            break
        data += chunk
    return data


def listed_titles(listing):
    """The titles of a listing's lines, in order, after checking that they are numbered from 0
    without gaps and that the last one ends with a line feed."""
    lines = listing.split(b"\n")
    assert lines[-1] == b"", lines[-1]
    titles = []
    for number, line in enumerate(lines[:-1]):
        prefix = b"Window[%d]: " % number
        assert line.startswith(prefix), line
        titles.append(line[len(prefix):])
    return titles


def titles_before_prompt(output):
    """The titles of a whole run's standard output: the listing, then the prompt."""
    assert output.endswith(PROMPT), output[-100:]
    return listed_titles(output[:-len(PROMPT)])


def wait_for(check, seconds=20):
    """Polls check() until it returns something true or `seconds` pass; returns its last value.
    For what other programs do in their own time, such as a window manager's move."""
    deadline = time.monotonic() + seconds
    while True:
        value = check()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.05)


def finish(process, grace=10):
    """Ends a test program that stops when its standard input closes; stops it if it does not."""
    process.stdin.close()
    try:
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        stop(process)


class XFixture:
    """The X test program (tests/x11/x_desktop), driven one command and one reply line at a time."""

    def __init__(self, program, env):
        self.process = subprocess.Popen([program], env=env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)

    def ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().strip()

    def close(self):
        finish(self.process)
        self.process.stdout.close()


class XDesktop:
    """Xvfb, openbox if asked for, and the X test program that opens and inspects windows."""

    def __init__(self, fixture, manager="none", width=1280, height=1024, manager_options=()):
        self.xvfb, self.display = start_xvfb(width, height)
        self.env = dict(os.environ, DISPLAY=self.display)
        self.manager = self.fixture = None
        try:
            self.fixture = XFixture(fixture, self.env)
            if manager == "openbox":
                self.manager = subprocess.Popen(["openbox", "--sm-disable", *manager_options],
                                                env=self.env, stdout=subprocess.DEVNULL,
                                                stderr=subprocess.DEVNULL)
                deadline = time.monotonic() + 20
                while self.ask("wm") != "1":
                    if time.monotonic() > deadline:
                        raise RuntimeError("openbox did not start")
                    time.sleep(0.05)
        except BaseException:
            self.close()
            raise

    def ask(self, command):
        return self.fixture.ask(command)

    def open(self, title=None, state="mapped", prop="WM_NAME", kind="STRING", extra="",
             at=(150, 120), size=(300, 200)):
        window = self.ask(f"open {at[0]} {at[1]} {size[0]} {size[1]} {state} {extra}")
        if title is not None:
            self.set_title(window, title, prop, kind)
        return window

    def set_title(self, window, title, prop="WM_NAME", kind="STRING", format=8):
        self.ask(f"title {window} {prop} {kind} {format} {title.hex() or '-'}")

    def where(self, window):
        """(x, y, width, height, 1 if on top) of a window, or None once it is gone."""
        reply = self.ask(f"where {window}")
        return None if reply == "gone" else tuple(map(int, reply.split()))

    def close(self):
        if self.fixture:
            self.fixture.close()
        if self.manager:
            stop(self.manager)
        stop(self.xvfb)


class DisplayProxy:
    """A display that forwards to a real one, counts the bytes the server answers and can delay
    every answer: a client's extra time divided by the delay is the number of round trips it
    waited for."""

    def __init__(self, display, delay=0.0):
        self.delay = delay
        self.answered = 0
        self.target = f"/tmp/.X11-unix/X{display.lstrip(':')}"
        self.listener = socket.socket(socket.AF_UNIX)
        number = 900
        while True:
            self.path = f"/tmp/.X11-unix/X{number}"
            try:
                self.listener.bind(self.path)
                break
            except OSError:
                number += 1
        self.display = f":{number}"
        self.listener.listen(4)
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.socket(socket.AF_UNIX)
            server.connect(self.target)
            threading.Thread(target=self.pump, args=(client, server, 0, False), daemon=True).start()
            threading.Thread(target=self.pump, args=(server, client, self.delay, True),
                             daemon=True).start()

    def pump(self, source, sink, delay, answers):
        """Forwards what arrives, each piece `delay` after its arrival: a long answer arriving in
        many pieces is late by one delay, not by one per piece."""
        pieces = queue.Queue()

        def deliver():
            while True:
                arrival, data = pieces.get()
                if data is None:
                    break
                wait = arrival + delay - time.monotonic()
                if wait > 0:
                    time.sleep(wait)
                try:
                    sink.sendall(data)
                except OSError:
                    break
            for end in (source, sink):
                try:
                    end.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

        threading.Thread(target=deliver, daemon=True).start()
        try:
            while True:
                data = source.recv(1 << 16)
                if not data:
                    break
                if answers:
                    self.answered += len(data)
                pieces.put((time.monotonic(), data))
        except OSError:
            pass
        pieces.put((time.monotonic(), None))

    def close(self):
        self.listener.close()
        os.unlink(self.path)
