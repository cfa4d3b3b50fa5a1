#!/usr/bin/env python3
"""Times topleft against wmctrl -l and xdotool search on Xvfb with openbox, at 1,000 and then
10,000 titled windows, in one run. Prints medians, ratios, peak memory, the lines each printed,
and topleft's round trips to the X server, counted by delaying every answer of the server.

Usage: bench_x11.py [--sizes 1000,10000] [--topleft PATH] [--fixture PATH]
(defaults: the programs of the build-linux tree)
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
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


def main():
    # A screen large enough for 10,000 windows side by side.
    desk = desktop.XDesktop(FIXTURE, ARGS.manager, 8192, 8192,
                            ("--config-file", os.path.join(HERE, "openbox-rc.xml")))
    env, ask, manager = desk.env, desk.ask, desk.manager
    proxy = None

    try:
        proxy = desktop.DisplayProxy(desk.display, DELAY)
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
        desk.close()


if __name__ == "__main__":
    main()
