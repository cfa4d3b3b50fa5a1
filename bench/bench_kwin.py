#!/usr/bin/env python3
"""Times topleft on headless KWins with 200 native Wayland windows, side by side: this machine's
(5.27), Debian 13's (6.3) and Debian testing's, the newer ones from Debian roots
(tests/debian_root.py): the whole run (listing and the verified move of window 0) and the listing
alone, medians of several runs. Then one run under strace splits the whole run's time by what
topleft waited for on its bus connection: the bus itself (its first calls, answered by the bus
daemon), KWin loading each script, KWin running it until the script's answer arrives, and KWin
unloading it; the rest is topleft's own work and its start and end.

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
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "wayland"))
import kwin_desktop  # noqa: E402
import roots  # noqa: E402

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


def split(env, typed):
    """One run under strace, split by what topleft waited for on its bus connection: the bus
    daemon (authentication, Hello, NameHasOwner: each until its reply), and for each script
    loadScript and unloadScript until their replies, run until the script's answer arrives (a
    call to topleft). Messages are told apart by the member each names."""
    with tempfile.NamedTemporaryFile() as trace:
        run = subprocess.run(["strace", "-tt", "-e", "trace=sendmsg,recvmsg,execve,exit_group", "-s", "400",
                              "-o", trace.name, TOPLEFT], env=env, input=typed, capture_output=True, check=False)
        desktop.require_exit("topleft under strace", run.returncode, 0, run.stderr)
        lines = trace.read().decode(errors="replace").splitlines()

    def seconds(line):
        hours, minutes, rest = line.split()[0].split(":")
        return int(hours) * 3600 + int(minutes) * 60 + float(rest)

    parts = {"bus daemon": 0.0, "script load": 0.0, "script run": 0.0, "script unload": 0.0}
    waiting = None  # (part, since, what ends it: "reply" or "call")
    for line in lines:
        kind = line.split()[1] if len(line.split()) > 1 else ""
        if not kind.startswith(("sendmsg", "recvmsg")) or "EAGAIN" in line:
            continue
        body = re.search(r'iov_base="(.*?)"', line)
        body = body.group(1) if body else ""
        at = seconds(line)
        if kind.startswith("sendmsg"):
            if waiting:
                continue  # the rest of a message, or a second try while waiting
            if "AUTH" in body or "BEGIN" in body or "Hello" in body or "NameHasOwner" in body:
                waiting = ("bus daemon", at, "reply")
            elif "loadScript" in body and "unloadScript" not in body:
                waiting = ("script load", at, "reply")
            elif "unloadScript" in body:
                waiting = ("script unload", at, "reply")
            elif "org.kde.kwin.Script" in body:
                waiting = ("script run", at, "call")
        elif waiting:
            # A method call received (type 1) is the script's answer; anything else a reply.
            received_call = body.startswith("l\\1")
            if (waiting[2] == "call") == received_call or (waiting[2] == "reply" and not received_call):
                parts[waiting[0]] += at - waiting[1]
                waiting = None
    total = seconds(lines[-1]) - seconds(lines[0])
    parts["topleft and the rest"] = total - sum(parts.values())
    return total, parts


def measure(root, label):
    desk = kwin_desktop.KWinDesktop(NATIVE, None, 4096, 4096, root=root)
    try:
        print(f"# {label}, KWin {desk.version()}", flush=True)
        medians = roots.time_runs(TOPLEFT, desk, ARGS.windows, desk.windows, "KWin", ARGS.stop_fixture)
        total, parts = split(desk.env, b"0\n")
        print(f"  one whole run under strace: {total * 1000:.1f} ms: " +
              ", ".join(f"{part} {spent * 1000:.1f} ms" for part, spent in parts.items()), flush=True)
        return desk.version(), medians
    finally:
        desk.close()


def main():
    if not (ARGS.topleft and ARGS.native):
        roots.build_programs()
    roots.side_by_side("bench_kwin", "KWin", measure)


if __name__ == "__main__":
    desktop.run_benchmark(main)
