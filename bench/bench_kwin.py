#!/usr/bin/env python3
"""Times topleft on a headless KWin with 200 native Wayland windows: the whole run (listing and
the verified move of window 0) and the listing alone, medians of several runs. Then one run under
strace splits the whole run's time by what topleft waited for on its bus connection: the bus
itself (its first calls, answered by the bus daemon), KWin loading each script, KWin running it
until the script's answer arrives, and KWin unloading it; the rest is topleft's own work and its
start and end.

Before timing it checks that KWin shows the windows opened and topleft lists them, and every
timed run must end as expected; otherwise it stops with what was missing, exit status 1, and
prints no figure.

Usage: bench_kwin.py [--windows 200] [--topleft PATH] [--native PATH] [--stop-fixture]
(installs what it needs and builds the programs of the build-linux tree, unless they are given;
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
ROOT = os.path.join(HERE, "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "wayland"))
import kwin_desktop  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tests"))
import desktop  # noqa: E402

BUILD = os.path.join(ROOT, "build-linux")
options = argparse.ArgumentParser(description="topleft on KWin, and where its time goes")
options.add_argument("--windows", type=int, default=200)
options.add_argument("--topleft")
options.add_argument("--native")
options.add_argument("--stop-fixture", action="store_true")
ARGS = options.parse_args()
TOPLEFT = ARGS.topleft or os.path.join(BUILD, "topleft")
NATIVE = ARGS.native or os.path.join(BUILD, "tests", "wayland", "wl_desktop")


def timed(name, env, typed, expected):
    start = time.perf_counter()
    run = subprocess.run([TOPLEFT], env=env, input=typed, capture_output=True)
    seconds = time.perf_counter() - start
    desktop.require_exit(name, run.returncode, expected, run.stderr)
    return seconds


def split(env, typed):
    """One run under strace, split by what topleft waited for on its bus connection. Its calls
    come in a fixed order: Hello and NameHasOwner to the bus daemon, then for each script
    loadScript, run and unloadScript to KWin; the script's answer is a call to topleft."""
    with tempfile.NamedTemporaryFile() as trace:
        run = subprocess.run(["strace", "-tt", "-e", "trace=sendmsg,recvmsg,execve,exit_group", "-s", "8",
                              "-o", trace.name, TOPLEFT], env=env, input=typed, capture_output=True, check=False)
        desktop.require_exit("topleft under strace", run.returncode, 0, run.stderr)
        lines = trace.read().decode(errors="replace").splitlines()

    def seconds(line):
        hours, minutes, rest = line.split()[0].split(":")
        return int(hours) * 3600 + int(minutes) * 60 + float(rest)

    # (time, "call" or "reply", sent or received), in order; AUTH lines count as calls.
    messages = []
    for line in lines:
        kind = line.split()[1]
        if not kind.startswith(("sendmsg", "recvmsg")) or "EAGAIN" in line:
            continue
        body = re.search(r'iov_base="(.{0,8})', line).group(1)
        if body.startswith(("l\\2", "l\\3")):
            role = "reply"
        elif body.startswith("l\\1") or "AUTH" in body or "DATA" in body or "OK" in body:
            role = "call"
        else:
            continue  # the rest of a message already counted
        messages.append((seconds(line), role, kind.startswith("sendmsg")))

    parts = {"bus daemon": 0.0, "script load": 0.0, "script run": 0.0, "script unload": 0.0}
    calls = 0
    for i, (sent_at, role, sent) in enumerate(messages):
        if not (sent and role == "call"):
            continue
        calls += 1
        # AUTH, Hello and NameHasOwner go to the bus daemon; then load, run, unload per script.
        part = "bus daemon" if calls <= 3 else ("script load", "script run", "script unload")[(calls - 4) % 3]
        # What ends the wait: the reply, or for run the script's answer (a call received).
        ended = next((at for at, r, s in messages[i + 1:] if not s and
                      (r == "call" if part == "script run" else r == "reply" or part == "bus daemon")), None)
        if ended:
            parts[part] += ended - sent_at
    total = seconds(lines[-1]) - seconds(lines[0])
    parts["topleft and the rest"] = total - sum(parts.values())
    return total, parts


def main():
    if not (ARGS.topleft and ARGS.native):
        subprocess.run([os.path.join(ROOT, "scripts", "install-deps"), "test", "bench"], check=True)
        for step in (["cmake", "--preset", "linux"], ["cmake", "--build", "--preset", "linux"]):
            subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    desk = kwin_desktop.KWinDesktop(NATIVE, None, 4096, 4096)
    try:
        started = time.monotonic()
        desktop.require_reply(desk.native.ask(f"many {ARGS.windows} bench_"))
        print(f"# {ARGS.windows} native windows on headless KWin ({time.monotonic() - started:.1f} s to open them)")
        if ARGS.stop_fixture:
            desk.native.close()
            desk.native = None
        shown = sum(1 for caption in desk.windows() if caption.startswith("bench_"))
        desktop.require_windows(ARGS.windows, shown, desktop.listed_count(TOPLEFT, desk.env, b"bench_"), "KWin")
        for name, typed, expected in (("topleft (list, move 0)", b"0\n", 0), ("topleft (list only)", b"x", 1)):
            runs = [timed(name, desk.env, typed, expected) for _ in range(9)]
            print(f"{name:<24} median {statistics.median(runs) * 1000:7.1f} ms")
        total, parts = split(desk.env, b"0\n")
        print(f"# one whole run under strace: {total * 1000:.1f} ms")
        for part, spent in parts.items():
            print(f"  {part:<22} {spent * 1000:7.1f} ms")
    except desktop.SetupError as error:
        print(f"bench_kwin: {error}; no figures", file=sys.stderr)
        sys.exit(1)
    finally:
        desk.close()


if __name__ == "__main__":
    main()
