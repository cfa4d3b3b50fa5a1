#!/usr/bin/env python3
"""Times topleft on Xvfb against its peers, in one run:
- under openbox at 1,000 titled windows: the whole run (listing, and the verified move of the
  window listed last, the lowest) and the listing alone, against `wmctrl -l` and
  `xdotool search --name .`;
- with no window manager at 10,000 windows: the listing against floor_list (bench/floor_list.c,
  a reference lister: one QueryTree, every title request pipelined), built here.
Prints medians, ratios, peak memory, the lines each printed, and topleft's round trips to the X
server, counted by delaying every answer of the server. The X server, the window manager and every
program timed share one CPU: on a virtual machine a wake-up across CPUs costs tens of
milliseconds at random, which would swamp what is measured.

Usage: bench_x11.py [--managed 1000] [--unmanaged 10000] [--spread] [--topleft PATH] [--fixture PATH]
(installs what it needs and builds the programs of the build-run tree, unless they are given)
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

ROOT = os.path.join(HERE, "..")
BUILD = os.path.join(ROOT, "build-run")
options = argparse.ArgumentParser(description="topleft against wmctrl, xdotool and floor_list")
options.add_argument("--managed", type=int, default=1000, help="windows under openbox (0: skip)")
options.add_argument("--unmanaged", type=int, default=10000, help="windows with no manager (0: skip)")
options.add_argument("--topleft")
options.add_argument("--fixture")
options.add_argument("--spread", action="store_true",
                     help="let the system spread the programs over its CPUs instead of sharing one")
ARGS = options.parse_args()
TOPLEFT = ARGS.topleft or os.path.join(BUILD, "topleft")
FIXTURE = ARGS.fixture or os.path.join(BUILD, "tests", "x11", "x_desktop")
DELAY = 0.025  # seconds added to every answer of the server when counting round trips
CPU = None if ARGS.spread else "0"


def pin(desk):
    """Puts the desktop's X server and window manager on the CPU the timed programs run on."""
    for process in [desk.xvfb] + desk.started if CPU else []:
        subprocess.run(["taskset", "-p", "-c", CPU, str(process.pid)], check=True,
                       stdout=subprocess.DEVNULL)


def run_measured(command, env, typed=b""):
    """Runs a command to its end: (seconds, peak resident KiB, lines printed, exit status). GNU
    time reports the peak of the command alone, not of this interpreter it was forked from."""
    with tempfile.NamedTemporaryFile() as peak:
        start = time.perf_counter()
        pinned = ["taskset", "-c", CPU] if CPU else []
        run = subprocess.run(pinned + ["/usr/bin/time", "-f", "%M", "-o", peak.name] + command, env=env,
                             input=typed, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        seconds = time.perf_counter() - start
        return seconds, int(peak.read().split()[-1]), run.stdout.count(b"\n"), run.returncode


def compare(count, tools, env, repeats):
    """Times each (name, command, typed) in turn; prints a row each and returns the medians."""
    medians = {}
    for name, command, typed in tools:
        runs = [run_measured(command, env, typed) for _ in range(repeats)]
        median = statistics.median(r[0] for r in runs)
        medians[name] = median
        ratio = median / medians[tools[0][0]]
        print(f"{count:>8} {name:<30} {median * 1000:>10.1f} {ratio:>10.2f} "
              f"{max(r[1] for r in runs):>9} {runs[-1][2]:>7} {runs[-1][3]:>5}", flush=True)
    return medians


def round_trips(env, proxy, typed):
    """topleft's round trips for one run: its extra time through the delaying proxy."""
    slow_env = dict(env, DISPLAY=proxy.display)
    fast = statistics.median(run_measured([TOPLEFT], env, typed)[0] for _ in range(3))
    slow = statistics.median(run_measured([TOPLEFT], slow_env, typed)[0] for _ in range(3))
    return (slow - fast) / DELAY


def header():
    print(f"{'windows':>8} {'tool':<30} {'median ms':>10} {'x first':>10} {'peak KiB':>9} "
          f"{'lines':>7} {'exit':>5}")


def managed(count):
    desk = desktop.XDesktop(FIXTURE, "openbox", 8192, 8192,
                            ("--config-file", os.path.join(HERE, "openbox-rc.xml")))
    proxy = None
    try:
        pin(desk)
        desk.ask(f"many {count} bench_")
        started = time.monotonic()
        while int(desk.ask("clients")) < count:
            time.sleep(0.5)
        print(f"# {count} windows under openbox ({time.monotonic() - started:.0f} s to take "
              "them on)", flush=True)
        # The manager goes on restacking and repainting for a while after the last window.
        time.sleep(5)
        header()
        # The lowest window is listed last; each run moves another one from the bottom of the
        # stack to its top and to the corner, a move the manager has to carry out in full.
        lowest = b"%d\n" % (run_measured([TOPLEFT], desk.env, b"x")[2] - 1)
        medians = compare(count, [("topleft (list, move lowest)", [TOPLEFT], lowest),
                                  ("topleft (list, move 0)", [TOPLEFT], b"0\n"),
                                  ("topleft (list only)", [TOPLEFT], b"x"),
                                  ("wmctrl -l", ["wmctrl", "-l"], b""),
                                  ("xdotool search --name .", ["xdotool", "search", "--name", "."],
                                   b"")], desk.env, 7)
        proxy = desktop.DisplayProxy(desk.display, DELAY)
        listing, moving = round_trips(desk.env, proxy, b"x"), round_trips(desk.env, proxy, lowest)
        print(f"# round trips: listing {listing:.1f}, listing and verified move {moving:.1f} "
              f"({DELAY * 1000:.0f} ms added per answer)")
        for moved in ("lowest", "0"):
            whole = medians[f"topleft (list, move {moved})"]
            print(f"# at {count} under openbox: wmctrl -l / topleft (list, move {moved}) = "
                  f"{medians['wmctrl -l'] / whole:.2f}x; the move costs "
                  f"{(whole - medians['topleft (list only)']) * 1000:.1f} ms", flush=True)
    finally:
        if proxy:
            proxy.close()
        desk.close()


def unmanaged(count, floor):
    desk = desktop.XDesktop(FIXTURE, "none", 8192, 8192)
    proxy = None
    try:
        pin(desk)
        desk.ask(f"many {count} bench_")
        print(f"# {count} windows, no window manager", flush=True)
        header()
        medians = compare(count, [("topleft (list only)", [TOPLEFT], b"x"),
                                  ("floor_list", [floor], b""),
                                  ("floor_list -t", [floor, "-t"], b"")], desk.env, 9)
        proxy = desktop.DisplayProxy(desk.display, DELAY)
        print(f"# round trips: listing {round_trips(desk.env, proxy, b'x'):.1f} "
              f"({DELAY * 1000:.0f} ms added per answer)")
        print(f"# at {count} with no manager: topleft (list only) / floor_list = "
              f"{medians['topleft (list only)'] / medians['floor_list']:.2f}x", flush=True)
    finally:
        if proxy:
            proxy.close()
        desk.close()


def main():
    subprocess.run([os.path.join(ROOT, "scripts", "install-deps"), "bench"], check=True)
    if not (ARGS.topleft and ARGS.fixture):
        for step in (["cmake", "--preset", "run"], ["cmake", "--build", "--preset", "run"]):
            subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    with tempfile.TemporaryDirectory() as folder:
        floor = os.path.join(folder, "floor_list")
        subprocess.run(["cc", "-O2", "-o", floor, os.path.join(HERE, "floor_list.c"), "-lxcb"],
                       check=True)
        if ARGS.managed:
            managed(ARGS.managed)
        if ARGS.unmanaged:
            unmanaged(ARGS.unmanaged, floor)


if __name__ == "__main__":
    main()
