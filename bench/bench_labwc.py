#!/usr/bin/env python3
"""Times topleft on a headless labwc (Debian 13's, from its Debian root) with 200 native Wayland
windows, which it reaches through the wlr foreign-toplevel protocol: its listing alone and its
whole run (listing, and window 0 brought to the top, which labwc lets no program place: that run
ends with exit status 1) against `wlrctl toplevel list`, Debian's C client of the same protocol,
in alternating rounds. Prints medians, ranges and the ratios.

Before timing it checks that labwc shows the windows opened and topleft lists them, and every
timed run must end as expected; otherwise it stops with what was missing, exit status 1, and
prints no ratio.

Usage: bench_labwc.py [--windows 200] [--topleft PATH] [--native PATH] [--stop-fixture]
(installs what it needs and builds the programs of the build-linux tree, unless they are given)
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "wayland"))
sys.path.insert(0, os.path.join(ROOT, "tests"))
import debian_root  # noqa: E402
import desktop  # noqa: E402

sys.path.insert(0, HERE)
import roots  # noqa: E402
import labwc_desktop  # noqa: E402

BUILD = os.path.join(ROOT, "build-linux")
CPU = "0"  # labwc, its XWayland and the timed programs share one CPU, as in bench_x11.py
options = argparse.ArgumentParser(description="topleft against wlrctl toplevel list")
options.add_argument("--windows", type=int, default=200)
options.add_argument("--topleft")
options.add_argument("--native")
options.add_argument("--stop-fixture", action="store_true")
ARGS = options.parse_args()
TOPLEFT = ARGS.topleft or os.path.join(BUILD, "topleft")
NATIVE = ARGS.native or os.path.join(BUILD, "tests", "wayland", "wl_desktop")


def timed(name, run, expected):
    """Seconds of one run of run() -> CompletedProcess, which must exit as expected."""
    start = time.perf_counter()
    done = run()
    seconds = time.perf_counter() - start
    desktop.require_exit(name, done.returncode, expected, done.stderr)
    return seconds


def main():
    if not (ARGS.topleft and ARGS.native):
        roots.build_programs()
    desk = labwc_desktop.LabwcDesktop(debian_root.make("trixie"), NATIVE)
    try:
        started = time.monotonic()
        desktop.require_reply(desk.native.ask(f"many {ARGS.windows} bench_"))
        print(f"# {ARGS.windows} native windows on headless labwc "
              f"({time.monotonic() - started:.1f} s to open them)", flush=True)
        if ARGS.stop_fixture:
            desk.native.close()
            desk.native = None
        listed = desk.tool("wlrctl", "toplevel", "list").stdout.decode(errors="replace").splitlines()
        shown = sum(1 for line in listed if line.split(": ", 1)[-1].startswith("bench_"))
        desktop.require_windows(ARGS.windows, shown, desktop.listed_count(TOPLEFT, desk.env, b"bench_"), "labwc")

        def topleft(typed):
            return lambda: subprocess.run(["taskset", "-c", CPU, TOPLEFT], env=desk.env, input=typed,
                                          capture_output=True)

        runs = [("topleft (list only)", topleft(b"x"), 1),
                ("topleft (list, bring 0 up)", topleft(b"0\n"), 1),
                ("wlrctl toplevel list", lambda: desk.tool("wlrctl", "toplevel", "list", cpu=CPU), 0)]
        # XWayland, started by the first client of X11 (topleft), is pinned with labwc.
        for pid, _, _ in desktop.descendants(desk.labwc.pid):
            subprocess.run(["taskset", "-p", "-c", CPU, str(pid)], check=True, stdout=subprocess.DEVNULL)
        times = {name: [] for name, _, _ in runs}
        for _ in range(15):  # alternating rounds: a slow moment of the machine falls on all
            for name, run, expected in runs:
                times[name].append(timed(name, run, expected))
        print(f"{'tool':<28} {'median ms':>10} {'range ms':>13}")
        medians = {name: statistics.median(seconds) for name, seconds in times.items()}
        for name, seconds in times.items():
            print(f"{name:<28} {medians[name] * 1000:>10.1f} {min(seconds) * 1000:>6.1f}-{max(seconds) * 1000:<6.1f}")
        for name in ("topleft (list only)", "topleft (list, bring 0 up)"):
            print(f"# {name} / wlrctl toplevel list = {medians[name] / medians['wlrctl toplevel list']:.2f}x")
    except desktop.SetupError as error:
        print(f"bench_labwc: {error}; no figures", file=sys.stderr)
        sys.exit(1)
    finally:
        desk.close()


if __name__ == "__main__":
    desktop.run_benchmark(main)
