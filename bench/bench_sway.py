#!/usr/bin/env python3
"""Times topleft on a headless sway with 1,000 native Wayland windows: the whole run (listing,
and the verified move of window 0) against `swaymsg -t get_tree`, sway's own client fetching the
tree once, in one run. Prints medians, the ratio, peak memory and the size of the tree.

Usage: bench_sway.py [--windows 1000] [--topleft PATH] [--native PATH]
(installs what it needs and builds the programs of the build-linux tree, unless they are given)
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "wayland"))
import sway_desktop  # noqa: E402

BUILD = os.path.join(ROOT, "build-linux")
options = argparse.ArgumentParser(description="topleft against swaymsg -t get_tree")
options.add_argument("--windows", type=int, default=1000)
options.add_argument("--topleft")
options.add_argument("--native")
ARGS = options.parse_args()
TOPLEFT = ARGS.topleft or os.path.join(BUILD, "topleft")
NATIVE = ARGS.native or os.path.join(BUILD, "tests", "wayland", "wl_desktop")
CPU = "0"  # sway, its clients and the timed programs share one CPU, as in bench_x11.py


def run_measured(command, env, typed=b""):
    """(seconds, peak resident KiB, bytes printed, exit status) of one run."""
    with tempfile.NamedTemporaryFile() as peak:
        start = time.perf_counter()
        run = subprocess.run(["taskset", "-c", CPU, "/usr/bin/time", "-f", "%M", "-o", peak.name] + command,
                             env=env, input=typed, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        seconds = time.perf_counter() - start
        return seconds, int(peak.read().split()[-1]), len(run.stdout), run.returncode


def main():
    if not (ARGS.topleft and ARGS.native):
        subprocess.run([os.path.join(ROOT, "scripts", "install-deps"), "test", "bench"], check=True)
        for step in (["cmake", "--preset", "linux"], ["cmake", "--build", "--preset", "linux"]):
            subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    # Floating windows: a thousand tiles of a pixel each would measure sway's tiling instead.
    desk = sway_desktop.SwayDesktop(NATIVE, None, 8192, 8192,
                                    'for_window [app_id="^topleft\\.test\\."] floating enable\n')
    try:
        subprocess.run(["taskset", "-p", "-c", CPU, str(desk.sway.pid)], check=True, stdout=subprocess.DEVNULL)
        started = time.monotonic()
        desk.native.ask(f"many {ARGS.windows} bench_")
        print(f"# {ARGS.windows} native windows on headless sway "
              f"({time.monotonic() - started:.1f} s to open them)", flush=True)
        tools = [("topleft (list, move 0)", [TOPLEFT], b"0\n"),
                 ("topleft (list only)", [TOPLEFT], b"x"),
                 ("swaymsg -t get_tree", ["swaymsg", "-t", "get_tree"], b"")]
        print(f"{'tool':<26} {'median ms':>10} {'x first':>8} {'peak KiB':>9} {'bytes out':>10} {'exit':>5}")
        medians = {}
        for name, command, typed in tools:
            runs = [run_measured(command, desk.env, typed) for _ in range(9)]
            medians[name] = statistics.median(r[0] for r in runs)
            print(f"{name:<26} {medians[name] * 1000:>10.1f} {medians[name] / medians[tools[0][0]]:>8.2f} "
                  f"{max(r[1] for r in runs):>9} {runs[-1][2]:>10} {runs[-1][3]:>5}", flush=True)
        print(f"# topleft (list, move 0) / swaymsg -t get_tree = "
              f"{medians[tools[0][0]] / medians['swaymsg -t get_tree']:.2f}x")
    finally:
        desk.close()


if __name__ == "__main__":
    main()
