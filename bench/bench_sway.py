#!/usr/bin/env python3
"""Times topleft on a headless sway with 1,000 native Wayland windows: the whole run (listing,
and the verified move of window 0, or of the lowest window) against `swaymsg -t get_tree`, sway's
own client fetching the tree once, in one run. Prints medians, ranges, the ratios, peak memory and
the size of the tree.

Before timing it checks that sway shows the windows opened and topleft lists them, and every
timed run must end as expected; otherwise it stops with what was missing, exit status 1, and
prints no ratio.

Usage: bench_sway.py [--windows 1000] [--topleft PATH] [--native PATH] [--stop-fixture]
(installs what it needs and builds the programs of the build-linux tree, unless they are given;
--stop-fixture closes the test program, so its windows, before the timing: the check must stop it)
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

sys.path.insert(0, os.path.join(ROOT, "tests"))
import desktop  # noqa: E402

sys.path.insert(0, HERE)
import roots  # noqa: E402

BUILD = os.path.join(ROOT, "build-linux")
options = argparse.ArgumentParser(description="topleft against swaymsg -t get_tree")
options.add_argument("--windows", type=int, default=1000)
options.add_argument("--topleft")
options.add_argument("--native")
options.add_argument("--stop-fixture", action="store_true")
ARGS = options.parse_args()
TOPLEFT = ARGS.topleft or os.path.join(BUILD, "topleft")
NATIVE = ARGS.native or os.path.join(BUILD, "tests", "wayland", "wl_desktop")
CPU = "0"  # sway, its clients and the timed programs share one CPU, as in bench_x11.py


def run_measured(name, command, env, typed, expected):
    """(seconds, peak resident KiB, bytes printed) of one run, which must exit as expected."""
    with tempfile.NamedTemporaryFile() as peak:
        start = time.perf_counter()
        run = subprocess.run(["taskset", "-c", CPU, "/usr/bin/time", "-f", "%M", "-o", peak.name] + command,
                             env=env, input=typed, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        seconds = time.perf_counter() - start
        desktop.require_exit(name, run.returncode, expected, run.stderr)
        return seconds, int(peak.read().split()[-1]), len(run.stdout)


def main():
    if not (ARGS.topleft and ARGS.native):
        roots.build_programs()
    # Floating windows: a thousand tiles of a pixel each would measure sway's tiling instead.
    desk = sway_desktop.SwayDesktop(NATIVE, None, 8192, 8192,
                                    'for_window [app_id="^topleft\\.test\\."] floating enable\n')
    try:
        subprocess.run(["taskset", "-p", "-c", CPU, str(desk.sway.pid)], check=True, stdout=subprocess.DEVNULL)
        started = time.monotonic()
        desktop.require_reply(desk.native.ask(f"many {ARGS.windows} bench_"))
        print(f"# {ARGS.windows} native windows on headless sway "
              f"({time.monotonic() - started:.1f} s to open them)", flush=True)
        if ARGS.stop_fixture:
            desk.native.close()
            desk.native = None
        shown = sum(1 for node, _, _ in desk.views() if (node.get("name") or "").startswith("bench_"))
        desktop.require_windows(ARGS.windows, shown, desktop.listed_count(TOPLEFT, desk.env, b"bench_"), "sway")
        # The lowest window is listed last: each run raises another one from the bottom and moves
        # it, all of which sway has to carry out; window 0 is found in place after the first run.
        lowest = b"%d\n" % (ARGS.windows - 1)
        tools = [("topleft (list, move 0)", [TOPLEFT], b"0\n", 0),
                 ("topleft (list, move lowest)", [TOPLEFT], lowest, 0),
                 ("topleft (list only)", [TOPLEFT], b"x", 1),
                 ("swaymsg -t get_tree", ["swaymsg", "-t", "get_tree"], b"", 0)]
        print(f"{'tool':<26} {'median ms':>10} {'x first':>8} {'range ms':>13} {'peak KiB':>9} {'bytes out':>10}")
        # Alternating rounds, one run of each per round: a slow moment of the machine falls on all.
        runs = {name: [] for name, _, _, _ in tools}
        for _ in range(9):
            for name, command, typed, expected in tools:
                runs[name].append(run_measured(name, command, desk.env, typed, expected))
        medians = {}
        for name, _, _, _ in tools:
            times = [r[0] for r in runs[name]]
            medians[name] = statistics.median(times)
            print(f"{name:<26} {medians[name] * 1000:>10.1f} {medians[name] / medians[tools[0][0]]:>8.2f} "
                  f"{min(times) * 1000:>6.1f}-{max(times) * 1000:<6.1f} "
                  f"{max(r[1] for r in runs[name]):>9} {runs[name][-1][2]:>10}", flush=True)
        for moved in ("0", "lowest"):
            print(f"# topleft (list, move {moved}) / swaymsg -t get_tree = "
                  f"{medians[f'topleft (list, move {moved})'] / medians['swaymsg -t get_tree']:.2f}x")
    except desktop.SetupError as error:
        print(f"bench_sway: {error}; no figures", file=sys.stderr)
        sys.exit(1)
    finally:
        desk.close()


if __name__ == "__main__":
    desktop.run_benchmark(main)
