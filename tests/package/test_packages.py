#!/usr/bin/env python3
"""What users get: `cmake --install` of a build tree, the .deb (checked by lintian, unpacked with
dpkg -x and run on a private Xvfb) and the Windows .zip.

Usage: test_packages.py BUILD_DIR install|deb|zip [X_DESKTOP]
"""
import gzip
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import desktop  # noqa: E402

BUILD = FIXTURE = None


def package(folder):
    """Makes the build tree's package in `folder`; returns its path."""
    subprocess.run(["cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", folder],
                   cwd=BUILD, check=True, capture_output=True)
    made = [name for name in os.listdir(folder) if name.endswith((".deb", ".zip"))]
    assert len(made) == 1, made
    return os.path.join(folder, made[0])


class Install(unittest.TestCase):
    def test_program_and_manual_page(self):
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix], check=True,
                           capture_output=True)
            program = os.path.join(prefix, "bin", "topleft")
            self.assertTrue(os.access(program, os.X_OK))
            run = subprocess.run([program], env={"PATH": os.environ["PATH"]}, input=b"0\n",
                                 capture_output=True, timeout=30)
            self.assertEqual((run.returncode, run.stdout), (1, b""))
            self.assertIn(b"DISPLAY is not set", run.stderr)

            page = os.path.join(prefix, "share", "man", "man1", "topleft.1.gz")
            shown = subprocess.run(["man", "--warnings", "-l", page], capture_output=True,
                                   env=dict(os.environ, MANWIDTH="80", MANPAGER="cat",
                                            PAGER="cat"))
            self.assertEqual((shown.returncode, shown.stderr), (0, b""))
            text = shown.stdout.decode()
            for part in ("NAME", "SYNOPSIS", "EXIT STATUS", "EXAMPLES", "Select window :",
                         "No window is listed with that number.", "No number was read.",
                         "cannot open display", "Wayland", "_NET_MOVERESIZE_WINDOW"):
                self.assertIn(part, text)


class Deb(unittest.TestCase):
    def test_lintian_finds_nothing(self):
        with tempfile.TemporaryDirectory() as folder:
            checked = subprocess.run(["lintian", "--allow-root", "--fail-on", "error,warning",
                                      package(folder)], capture_output=True, text=True)
        findings = [line for line in checked.stdout.splitlines() if line[:2] in ("E:", "W:")]
        self.assertEqual((checked.returncode, findings), (0, []), checked.stdout + checked.stderr)

    def test_documents_where_debian_keeps_them(self):
        with tempfile.TemporaryDirectory() as folder:
            root = os.path.join(folder, "root")
            subprocess.run(["dpkg", "-x", package(folder), root], check=True)
            docs = os.path.join(root, "usr", "share", "doc", "topleft")
            with open(os.path.join(docs, "copyright")) as copyright:
                self.assertTrue(copyright.readline().startswith("Format: https://www.debian.org/"))
            with gzip.open(os.path.join(docs, "changelog.gz"), "rt") as changelog:
                self.assertTrue(changelog.readline().startswith("topleft (0.1.0) "))
            # The README's picture is where the README points.
            with open(os.path.join(docs, "README.md")) as readme:
                pictures = re.findall(r"!\[[^]]*\]\(([^)]+)\)", readme.read())
            self.assertTrue(pictures)
            for picture in pictures:
                self.assertTrue(os.path.isfile(os.path.join(docs, picture)), picture)

    def test_unpacked_package_runs(self):
        with tempfile.TemporaryDirectory() as folder:
            deb = package(folder)
            depends = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], check=True,
                                     capture_output=True, text=True).stdout
            # libsystemd and simdjson are loaded only where a desktop needs them, but installed.
            for library in ("libxcb1", "libsystemd0", "libsimdjson", "libc6"):
                self.assertIn(library, depends)
            root = os.path.join(folder, "root")
            subprocess.run(["dpkg", "-x", deb, root], check=True)
            self.assertTrue(os.path.isfile(os.path.join(root, "usr/share/man/man1/topleft.1.gz")))
            # The GNOME Shell extension: both generations, and the one for this machine's shell
            # where distributions keep extensions, each naming the shell versions it is for.
            uuid = "topleft@example.org"
            for generation, versions in (("40", ["40", "41", "42", "43", "44"]),
                                         ("45", ["45", "46", "47", "48", "49", "50"])):
                folder_of = os.path.join(root, "usr/share/topleft/gnome-shell", generation, uuid)
                with open(os.path.join(folder_of, "metadata.json")) as metadata:
                    described = json.load(metadata)
                self.assertEqual((described["uuid"], described["shell-version"]), (uuid, versions))
                with open(os.path.join(folder_of, "extension.js")) as extension:
                    source = extension.read()
                self.assertEqual("export default class" in source, generation == "45")
                self.assertIn("org.topleft.Windows", source)
            self.assertTrue(os.path.isfile(os.path.join(root, "usr/share/gnome-shell/extensions", uuid,
                                                        "extension.js")))
            program = os.path.join(root, "usr", "bin", "topleft")

            desk = desktop.XDesktop(FIXTURE)
            try:
                window = desk.open(b"Installed from the package", at=(220, 140))
                run = subprocess.run([program], env=desk.env, input=b"", capture_output=True,
                                     timeout=60)
                titles = desktop.titles_before_prompt(run.stdout)
                number = titles.index(b"Installed from the package")
                run = subprocess.run([program], env=desk.env, input=b"%d\n" % number,
                                     capture_output=True, timeout=60)
                self.assertEqual((run.returncode, run.stderr), (0, b""))
                self.assertEqual(desk.where(window)[:5], (0, 0, 300, 200, 1))
            finally:
                desk.close()


class Zip(unittest.TestCase):
    def test_contents(self):
        with tempfile.TemporaryDirectory() as folder:
            archive = package(folder)
            with zipfile.ZipFile(archive) as contents:
                names = sorted(contents.namelist())
                top = os.path.basename(archive)[:-len(".zip")]
                self.assertEqual(names, [f"{top}/LICENSE", f"{top}/README.md", f"{top}/topleft.exe"])
                self.assertIn(b"MIT License", contents.read(f"{top}/LICENSE"))
                self.assertEqual(contents.read(f"{top}/topleft.exe")[:2], b"MZ")
                self.assertIn(b"Select window", contents.read(f"{top}/README.md"))


if __name__ == "__main__":
    BUILD, case = sys.argv[1], sys.argv[2]
    FIXTURE = sys.argv[3] if len(sys.argv) > 3 else None
    desktop.run_tests(sys.argv[:1] + [case.capitalize()])
