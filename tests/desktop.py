"""Shared by the end-to-end tests: a private X server, and processes stopped by their own ids."""
import os
import signal
import subprocess


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
