#!/usr/bin/env python3
"""Times topleft against wmctrl -l and xdotool search on Xvfb with openbox, at 1,000 and then
10,000 titled windows, in one run. Prints medians, ratios, peak memory, the lines each printed,
and topleft's round trips to the X server, counted by delaying every answer of the server.

Usage: bench_x11.py [--sizes 1000,10000] [--topleft PATH] [--fixture PATH]
(defaults: the programs of the build-linux tree)
"""
import argparse
import os
import queue
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
import desktop  # noqa: E402

BUILD = os.path.join(HERE, "..", "build-linux")
options = argparse.ArgumentParser(description="topleft against wmctrl and xdotool on openbox")
options.add_argument("--sizes", default="1000,10000", help="window counts, ascending")
options.add_argument("--topleft", default=os.path.join(BUILD, "topleft"))
options.add_argument("--fixture", default=os.path.join(BUILD, "tests", "x11", "x_desktop"))
options.add_argument("--manager", choices=("openbox", "none"), default="openbox",
                     help="none: no window manager (wmctrl then lists nothing)")
ARGS = options.parse_args()
TOPLEFT, FIXTURE = ARGS.topleft, ARGS.fixture
SIZES = [int(size) for size in ARGS.sizes.split(",")]
DELAY = 0.025  # seconds added to every answer of the server when counting round trips


def run_measured(command, env, typed=b""):
    """Runs a command to its end: (seconds, peak resident KiB, lines printed). GNU time reports
    the peak of the command alone, not of this interpreter it was forked from."""
    with tempfile.NamedTemporaryFile() as peak:
        start = time.perf_counter()
        out = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak.name] + command, env=env,
                             input=typed, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
        seconds = time.perf_counter() - start
        return seconds, int(peak.read().split()[-1]), out.count(b"\n")


class SlowProxy:
    """A display that forwards to the real one and delays every answer of the server by DELAY:
    a client's extra time divided by DELAY is the number of round trips it waited for."""

    def __init__(self, display):
        number = 900
        while os.path.exists(f"/tmp/.X11-unix/X{number}"):
            number += 1
        self.path = f"/tmp/.X11-unix/X{number}"
        self.display = f":{number}"
        self.target = f"/tmp/.X11-unix/X{display.lstrip(':')}"
        self.listener = socket.socket(socket.AF_UNIX)
        self.listener.bind(self.path)
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
            threading.Thread(target=self.pump, args=(client, server, 0), daemon=True).start()
            threading.Thread(target=self.pump, args=(server, client, DELAY), daemon=True).start()

    @staticmethod
    def pump(source, sink, delay):
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
                pieces.put((time.monotonic(), data))
        except OSError:
            pass
        pieces.put((time.monotonic(), None))

    def close(self):
        self.listener.close()
        os.unlink(self.path)


def main():
    # A screen large enough for 10,000 windows side by side.
    xvfb, display = desktop.start_xvfb(8192, 8192)
    env = dict(os.environ, DISPLAY=display)
    manager = None
    if ARGS.manager == "openbox":
        manager = subprocess.Popen(["openbox", "--sm-disable", "--config-file",
                                    os.path.join(HERE, "openbox-rc.xml")],
                                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    fixture = desktop.XFixture(FIXTURE, env)
    ask = fixture.ask
    proxy = None

    try:
        while manager and ask("wm") != "1":
            time.sleep(0.05)
        proxy = SlowProxy(display)
        slow_env = dict(env, DISPLAY=proxy.display)
        tools = [("topleft (list, move 0)", [TOPLEFT], b"0\n"),
                 ("wmctrl -l", ["wmctrl", "-l"], b""),
                 ("xdotool search --name .", ["xdotool", "search", "--name", "."], b"")]
        made = 0
        print(f"{'windows':>8} {'tool':<26} {'median ms':>10} {'x topleft':>10} {'peak KiB':>9} {'lines':>7}")
        results = {}
        for count in SIZES:
            repeats = 7 if count <= 2000 else 3
            ask(f"many {count - made} bench{count}_")
            made = count
            started = time.monotonic()
            while manager and int(ask("clients")) < count:
                time.sleep(0.5)
            print(f"# {count} windows, {ARGS.manager} managing them "
                  f"({time.monotonic() - started:.0f} s to take them on)", flush=True)
            # The manager goes on restacking and repainting for a while after the last window.
            time.sleep(5 if manager else 0)
            for name, command, typed in tools:
                runs = [run_measured(command, env, typed) for _ in range(repeats)]
                median = statistics.median(r[0] for r in runs)
                results[(count, name)] = median
                ratio = median / results[(count, tools[0][0])]
                print(f"{count:>8} {name:<26} {median * 1000:>10.1f} {ratio:>10.1f} "
                      f"{max(r[1] for r in runs):>9} {runs[-1][2]:>7}", flush=True)
            fast = statistics.median(run_measured([TOPLEFT], env, b"x")[0] for _ in range(3))
            slow = statistics.median(run_measured([TOPLEFT], slow_env, b"x")[0] for _ in range(3))
            print(f"# topleft at {count} windows: {(slow - fast) / DELAY:.1f} round trips "
                  f"(listing alone, connection set-up included; {DELAY * 1000:.0f} ms added per answer)",
                  flush=True)
        for count in SIZES:
            print(f"# at {count}: wmctrl -l / topleft = "
                  f"{results[(count, 'wmctrl -l')] / results[(count, tools[0][0])]:.2f}x")
    finally:
        if proxy:
            proxy.close()
        fixture.close()
        if manager:
            desktop.stop(manager)
        desktop.stop(xvfb)


if __name__ == "__main__":
    main()
