#!/usr/bin/env python3
"""Times topleft on Xvfb against its peers, in one run:
- under openbox at 30 titled windows, a desktop as people have it: the whole run (listing, and the
  verified move of window 0) and the listing alone, against floor_list and `wmctrl -l`; there
  starting the program is most of the time;
- under openbox at 1,000 titled windows: the whole run (listing, and the verified move of the
  window listed last, the lowest) and the listing alone, against `wmctrl -l` and
  `xdotool search --name .`;
- with no window manager at 10,000 windows: the listing against floor_list (bench/floor_list.c,
  a reference lister: one QueryTree, every title request pipelined), built here.
Prints medians, ratios, peak memory, the lines each printed, and topleft's round trips to the X
server, counted by delaying every answer of the server. The X server, the window manager and every
program timed share one CPU: on a virtual machine a wake-up across CPUs costs tens of
milliseconds at random, which would swamp what is measured.

Before timing it checks that the X server shows the windows opened and topleft lists them, and
every timed run must end as expected; otherwise it stops with what was missing, exit status 1,
and prints no ratio.

Usage: bench_x11.py [--small 30] [--managed 1000] [--unmanaged 10000] [--spread] [--topleft PATH]
                    [--fixture PATH] [--stop-fixture]
(installs what it needs and builds the programs of the build-run tree, unless they are given;
--stop-fixture closes the test program, so its windows, before the timing: the check must stop it)
"""
import argparse
import os
import re
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
options.add_argument("--small", type=int, default=30, help="windows of the small desktop, under openbox (0: skip)")
options.add_argument("--managed", type=int, default=1000, help="windows under openbox (0: skip)")
options.add_argument("--unmanaged", type=int, default=10000, help="windows with no manager (0: skip)")
options.add_argument("--topleft")
options.add_argument("--fixture")
options.add_argument("--stop-fixture", action="store_true")
options.add_argument("--spread", action="store_true",
                     help="let the system spread the programs over its CPUs instead of sharing one")
ARGS = options.parse_args()
TOPLEFT = ARGS.topleft or os.path.join(BUILD, "topleft")
FIXTURE = ARGS.fixture or os.path.join(BUILD, "tests", "x11", "x_desktop")
LINKED = "floor_list, topleft's libraries"
DELAY = 0.025  # seconds added to every answer of the server when counting round trips
CPU = None if ARGS.spread else "0"


def pin(desk):
    """Puts the desktop's X server and window manager on the CPU the timed programs run on."""
    for process in [desk.xvfb] + desk.started if CPU else []:
        subprocess.run(["taskset", "-p", "-c", CPU, str(process.pid)], check=True,
                       stdout=subprocess.DEVNULL)


def run_measured(name, command, env, typed, expected):
    """Runs a command to its end: (seconds, lines printed); it must exit as expected. It is started
    directly, on this process's CPU, with files for its input and output: no wrapper's start is
    timed, which at a few dozen windows would be most of what is."""
    with tempfile.TemporaryFile() as stdin, tempfile.TemporaryFile() as stdout, tempfile.TemporaryFile() as stderr:
        stdin.write(typed)
        stdin.seek(0)
        start = time.perf_counter()
        run = subprocess.run(command, env=env, stdin=stdin, stdout=stdout, stderr=stderr)
        seconds = time.perf_counter() - start
        stdout.seek(0)
        stderr.seek(0)
        desktop.require_exit(name, run.returncode, expected, stderr.read())
        return seconds, stdout.read().count(b"\n")


def peak_memory(command, env, typed):
    """The command's peak resident KiB, as GNU time reports it for the command alone."""
    with tempfile.NamedTemporaryFile() as peak:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak.name] + command, env=env, input=typed,
                       capture_output=True)
        return int(peak.read().split()[-1])


def compare(count, tools, env, repeats):
    """Times each (name, command, typed, exit status) `repeats` times, in alternating rounds (one
    run of each per round, so that a slow moment of the machine falls on all of them); prints a row
    each, with the spread of its runs, and returns the medians."""
    runs = {name: [] for name, _, _, _ in tools}  # (seconds, lines) of each run
    for _ in range(repeats):
        for name, command, typed, expected in tools:
            runs[name].append(run_measured(name, command, env, typed, expected))
            # Each run starts on a desktop at rest: what the manager does after a move (restacking
            # a thousand windows) is not the next program's to wait for.
            time.sleep(0.05)
    medians = {}
    for name, _, _, _ in tools:
        times = [r[0] for r in runs[name]]
        medians[name] = statistics.median(times)
        ratio = medians[name] / medians[tools[0][0]]
        command, typed = next((command, typed) for n, command, typed, _ in tools if n == name)
        peak = peak_memory(command, env, typed)
        print(f"{count:>8} {name:<30} {medians[name] * 1000:>10.1f} {ratio:>10.2f} "
              f"{min(times) * 1000:>6.1f}-{max(times) * 1000:<6.1f} "
              f"{peak:>9} {runs[name][-1][1]:>7}", flush=True)
    return medians


def round_trips(env, proxy, typed, expected):
    """topleft's round trips for one run: its extra time through the delaying proxy."""
    slow_env = dict(env, DISPLAY=proxy.display)
    fast = statistics.median(run_measured("topleft", [TOPLEFT], env, typed, expected)[0] for _ in range(3))
    slow = statistics.median(run_measured("topleft", [TOPLEFT], slow_env, typed, expected)[0] for _ in range(3))
    return (slow - fast) / DELAY


def check_windows(desk, count):
    """The X server shows the `count` windows opened (titled bench_N, as xwininfo finds them) and
    topleft lists them; optionally the test program is stopped first, to see this fail."""
    if ARGS.stop_fixture:
        desk.fixture.close()
        desk.fixture = None
    tree = subprocess.run(["xwininfo", "-root", "-tree"], env=desk.env, capture_output=True, check=True)
    shown = len(re.findall(rb'^\s+0x[0-9a-f]+ "bench_\d+"', tree.stdout, re.MULTILINE))
    desktop.require_windows(count, shown, desktop.listed_count(TOPLEFT, desk.env, b"bench_"), "the X server")


def header():
    print(f"{'windows':>8} {'tool':<30} {'median ms':>10} {'x first':>10} {'range ms':>13} {'peak KiB':>9} "
          f"{'lines':>7}")


def under_openbox(count):
    """Xvfb and openbox with `count` windows it has taken on, pinned and checked."""
    desk = desktop.XDesktop(FIXTURE, "openbox", 8192, 8192,
                            ("--config-file", os.path.join(HERE, "openbox-rc.xml")))
    try:
        pin(desk)
        desktop.require_reply(desk.ask(f"many {count} bench_"))
        started = time.monotonic()
        while int(desk.ask("clients")) < count and time.monotonic() - started < 600:
            time.sleep(0.5)
        print(f"# {count} windows under openbox ({time.monotonic() - started:.0f} s to take "
              "them on)", flush=True)
        # The manager goes on restacking and repainting for a while after the last window.
        time.sleep(5 if count > 100 else 1)
        check_windows(desk, count)
        return desk
    except BaseException:
        desk.close()
        raise


def small(count, floor):
    desk = under_openbox(count)
    try:
        header()
        medians = compare(count, [("topleft (list, move 0)", [TOPLEFT], b"0\n", 0),
                                  ("floor_list", [floor], b"", 0),
                                  ("topleft (list only)", [TOPLEFT], b"x", 1),
                                  ("wmctrl -l", ["wmctrl", "-l"], b"", 0)], desk.env, 40)
        whole, listing = medians["topleft (list, move 0)"], medians["topleft (list only)"]
        print(f"# at {count} under openbox: topleft (list, move 0) / floor_list = "
              f"{whole / medians['floor_list']:.2f}x; topleft (list only) / floor_list = "
              f"{listing / medians['floor_list']:.2f}x; wmctrl -l / topleft (list, move 0) = "
              f"{medians['wmctrl -l'] / whole:.2f}x", flush=True)
    finally:
        desk.close()


def managed(count):
    desk = under_openbox(count)
    proxy = None
    try:
        header()
        # The lowest window is listed last; each run moves another one from the bottom of the
        # stack to its top and to the corner, a move the manager has to carry out in full.
        lowest = b"%d\n" % (run_measured("topleft (list only)", [TOPLEFT], desk.env, b"x", 1)[1] - 1)
        medians = compare(count, [("topleft (list, move lowest)", [TOPLEFT], lowest, 0),
                                  ("topleft (list, move 0)", [TOPLEFT], b"0\n", 0),
                                  ("topleft (list only)", [TOPLEFT], b"x", 1),
                                  ("wmctrl -l", ["wmctrl", "-l"], b"", 0),
                                  ("xdotool search --name .", ["xdotool", "search", "--name", "."],
                                   b"", 0)], desk.env, 15)
        proxy = desktop.DisplayProxy(desk.display, DELAY)
        listing, moving = round_trips(desk.env, proxy, b"x", 1), round_trips(desk.env, proxy, lowest, 0)
        print(f"# round trips: listing {listing:.1f}, the verified move {moving - listing:.1f} "
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
        desktop.require_reply(desk.ask(f"many {count} bench_"))
        print(f"# {count} windows, no window manager", flush=True)
        check_windows(desk, count)
        header()
        medians = compare(count, [("topleft (list, move 0)", [TOPLEFT], b"0\n", 0),
                                  ("floor_list", [floor], b"", 0),
                                  ("topleft (list only)", [TOPLEFT], b"x", 1),
                                  (LINKED, [floor + "-linked"], b"", 0)], desk.env, 41)
        proxy = desktop.DisplayProxy(desk.display, DELAY)
        listing, moving = round_trips(desk.env, proxy, b"x", 1), round_trips(desk.env, proxy, b"0\n", 0)
        print(f"# round trips: listing {listing:.1f}, the verified move {moving - listing:.1f} "
              f"({DELAY * 1000:.0f} ms added per answer)")
        whole, listing = medians["topleft (list, move 0)"], medians["topleft (list only)"]
        print(f"# at {count} with no manager: topleft (list, move 0) / floor_list = "
              f"{whole / medians['floor_list']:.2f}x, / floor_list with topleft's libraries = "
              f"{whole / medians[LINKED]:.2f}x; topleft (list only) / floor_list = "
              f"{listing / medians['floor_list']:.2f}x", flush=True)
    finally:
        if proxy:
            proxy.close()
        desk.close()


def main():
    subprocess.run([os.path.join(ROOT, "scripts", "install-deps"), "bench"], check=True)
    if CPU:
        os.sched_setaffinity(0, {int(CPU)})  # the programs timed start on it
    if not (ARGS.topleft and ARGS.fixture):
        for step in (["cmake", "--preset", "run"], ["cmake", "--build", "--preset", "run"]):
            subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    with tempfile.TemporaryDirectory() as folder:
        floor = os.path.join(folder, "floor_list")
        subprocess.run(["cc", "-O2", "-o", floor, os.path.join(HERE, "floor_list.c"), "-lxcb"],
                       check=True)
        # The same lister loading the shared libraries topleft loads on X11: what starting such a
        # program costs before it does anything.
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]",
                            subprocess.run(["readelf", "-d", TOPLEFT], capture_output=True, text=True).stdout)
        print(f"# topleft loads {', '.join(needed)}", flush=True)
        subprocess.run(["cc", "-O2", "-o", floor + "-linked", os.path.join(HERE, "floor_list.c"),
                        "-Wl,--no-as-needed"] + [f"-l:{library}" for library in needed], check=True)
        try:
            if ARGS.small:
                small(ARGS.small, floor)
            if ARGS.managed:
                managed(ARGS.managed)
            if ARGS.unmanaged:
                unmanaged(ARGS.unmanaged, floor)
        except desktop.SetupError as error:
            print(f"bench_x11: {error}; no figures", file=sys.stderr)
            sys.exit(1)


if __name__ == "__main__":
    desktop.run_benchmark(main)
