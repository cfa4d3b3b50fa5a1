"""What the benchmarks of KWin and GNOME Shell share: one measure taken on this machine's desktop
and on the newer ones of the Debian roots (tests/debian_root.py), side by side, with the checks
that no figure comes from a run that did not happen."""
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import debian_root  # noqa: E402
import desktop  # noqa: E402

SUITES = ((None, "this machine"), ("trixie", "Debian 13"), ("forky", "Debian testing"))
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def build_programs():
    """Installs what the tests and the benchmarks need and builds the programs of the build-linux
    tree: for a benchmark not given the programs to time."""
    subprocess.run([os.path.join(ROOT, "scripts", "install-deps"), "test", "bench"], check=True)
    for step in (["cmake", "--preset", "linux"], ["cmake", "--build", "--preset", "linux"]):
        subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
RUNS = (("topleft (list, move 0)", b"0\n", 0), ("topleft (list only)", b"x", 1))


def timed(topleft, name, env, typed, expected):
    """Seconds of one run, which must exit as expected."""
    start = time.perf_counter()
    run = subprocess.run([topleft], env=env, input=typed, capture_output=True)
    seconds = time.perf_counter() - start
    desktop.require_exit(name, run.returncode, expected, run.stderr)
    return seconds


def time_runs(topleft, desk, count, shown_titles, what, stop_fixture):
    """Opens `count` windows with the desktop's native test program, checks that the desktop
    (shown_titles(): the titles it sees) and topleft both show them, and times the whole run and
    the listing alone: their medians in seconds."""
    started = time.monotonic()
    desktop.require_reply(desk.native.ask(f"many {count} bench_"))
    print(f"  {count} native windows opened in {time.monotonic() - started:.1f} s", flush=True)
    if stop_fixture:
        desk.native.close()
        desk.native = None
    shown = sum(1 for title in shown_titles() if title.startswith("bench_"))
    desktop.require_windows(count, shown, desktop.listed_count(topleft, desk.env, b"bench_"), what)
    medians = []
    for name, typed, expected in RUNS:
        medians.append(statistics.median(timed(topleft, name, desk.env, typed, expected) for _ in range(9)))
        print(f"  {name:<24} median {medians[-1] * 1000:7.1f} ms", flush=True)
    return medians


def side_by_side(program, product, measure):
    """Runs measure(root, label) -> (version, [whole run, listing]) on each desktop whose root can
    be made, and prints their figures side by side; stops with exit status 1 and no figure when a
    desktop does not show what was set up on it."""
    rows = []
    try:
        for suite, label in SUITES:
            try:
                root = debian_root.make(suite) if suite else None
            except debian_root.RootError as error:
                print(f"# {label}: no {product} to measure: {error}", flush=True)
                continue
            version, (whole, listing) = measure(root, label)
            rows.append((label, version, whole, listing))
    except desktop.SetupError as error:
        print(f"{program}: {error}; no figures", file=sys.stderr)
        sys.exit(1)
    print(f"{'desktop':<16} {product:<20} {'list, move 0':>13} {'list only':>10}")
    for label, version, whole, listing in rows:
        print(f"{label:<16} {version:<20} {whole * 1000:>10.1f} ms {listing * 1000:>7.1f} ms")
