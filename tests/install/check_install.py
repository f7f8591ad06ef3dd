#!/usr/bin/env python3
"""Installs the build into a temporary DESTDIR and checks the tree a package would hold.

    check_install.py --cmake CMAKE --build BUILD_DIR --source SOURCE_DIR
                     --appdir lib/zelmora-suite --screenshot-base URL [unittest options]
"""
import argparse
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
from xml.etree import ElementTree
from pathlib import Path

ARGS = None
PREFIX = "usr"

# What a portable copy writes beside itself while it is used: settings, progress, and the
# conversions of `scripts/run.sh` in output/. None of it belongs to an install.
USED_TREE_FILES = {
    "zelmora": ("setup.ini", "options.ini", "zelmora.conf", "output/talk.wma", "output/clip (2).mp3"),
    "video": ("progress.txt", "talk.mp4", "logs/x.log"),
}
# The formats zelmora converts to, as the package and the AppStream data name them.
AUDIO_FORMATS = ("MP3", "WMA", "OGG", "WAV", "FLAC", "AC3", "AAC", "AMR", "M4A", "Opus")

# Extensions the programs' open dialogs offer; "Open With" must offer the programs for them.
OPEN_DIALOG_EXTENSIONS = {
    "net.zelmora.Zelmora": "flv avi mpg wmv mp4 mov vob rm 3gp mp3 wav wma".split(),
    "net.zelmora.Vidrune": "rm rmvb avi wmv asf mpg mpeg mp4 3gp 3gpp2 3g2 swf flv".split(),
}
# Zelmora takes the sound of videos and of audio files; Vidrune converts videos.
MEDIA_KINDS = {"net.zelmora.Zelmora": ("video/", "audio/"), "net.zelmora.Vidrune": ("video/",)}
LAUNCHERS = {"net.zelmora.Zelmora": "zelmora", "net.zelmora.Vidrune": "vidrune"}
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)
MAN_PAGES = ("zelmora", "zelmora-cli", "vidrune", "conv", "vv")
MIME_DIR = Path("/usr/share/mime")


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def is_elf(path: Path) -> bool:
    with path.open("rb") as f:
        return f.read(4) == b"\x7fELF"


def png_size(path: Path):
    data = path.read_bytes()[:24]
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", data[16:24])


def desktop_entry(path: Path) -> dict:
    entry, group = {}, None
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.startswith("["):
            group = line.strip("[]")
        elif "=" in line and group == "Desktop Entry":
            key, value = line.split("=", 1)
            entry[key] = value
    return entry


def known_mime_types():
    """Canonical types of shared-mime-info, and alias -> canonical."""
    types = set((MIME_DIR / "types").read_text().split())
    aliases = {}
    for line in (MIME_DIR / "aliases").read_text().splitlines():
        alias, _, canonical = line.partition(" ")
        aliases[alias] = canonical
    return types, aliases


def mime_types_of_extension(ext: str):
    found = set()
    for line in (MIME_DIR / "globs2").read_text().splitlines():
        if line.startswith("#"):
            continue
        parts = line.split(":")
        if len(parts) >= 3 and parts[2].lower() == "*." + ext:
            found.add(parts[1])
    return found


def portable_files(build: Path):
    """What the build places beside the programs (apps/...), as its own rules list it."""
    manifest = build / "portable-files.txt"
    return sorted(line for line in manifest.read_text(encoding="utf-8").splitlines() if line)


def cmake_variable(path: Path, name: str) -> str:
    """A variable that CMake wrote into a generated script (CPackConfig.cmake)."""
    found = re.search(r'^set\(' + re.escape(name) + r' "((?:[^"\\]|\\.)*)"\)', path.read_text(), re.M)
    return found.group(1).encode().decode("unicode_escape") if found else ""


def failure_codes(errors_h: Path):
    enum = re.search(r"enum\s+class\s+Failure\b[^{]*\{(.*?)\};", errors_h.read_text(), re.S)
    return sorted(int(c) for c in re.findall(r"=\s*(\d+)", enum.group(1)))


class InstallTree(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.destdir = Path(tempfile.mkdtemp(prefix="zm-install-"))
        env = dict(os.environ, DESTDIR=str(cls.destdir))
        done = run([ARGS.cmake, "--install", ARGS.build, "--prefix", "/" + PREFIX], env=env)
        if done.returncode != 0:
            shutil.rmtree(cls.destdir, ignore_errors=True)
            raise RuntimeError("cmake --install failed:\n" + done.stdout + done.stderr)
        cls.root = cls.destdir / PREFIX
        cls.app = cls.root / ARGS.appdir
        cls.source = Path(ARGS.source)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.destdir, ignore_errors=True)

    def test_programs_and_companions_are_in_place(self):
        cases = [
            ("zelmora/zelmora", True),
            ("zelmora/zelmora-cli", True),
            ("zelmora/data/conv", True),
            ("zelmora/sound.wav", False),
            ("zelmora/help/tutorial.html", False),
            ("video/video", True),
            ("video/vv", True),
            ("video/h264.dat", False),
        ]
        for rel, executable in cases:
            with self.subTest(rel):
                path = self.app / rel
                self.assertTrue(path.is_file() and not path.is_symlink(), f"{path} missing")
                self.assertEqual(os.access(path, os.X_OK), executable, f"{path} executable bit")
                self.assertGreater(path.stat().st_size, 0)

    def check_companions_installed(self):
        # The build tree is the portable layout; the install holds the same files in the same
        # places, and nothing else. The list comes from the build's rules, not from whatever
        # lies in the folders (a used tree holds settings and conversions too).
        listed = portable_files(Path(ARGS.build))
        self.assertIn("zelmora/zelmora", listed)
        self.assertIn("video/h264.dat", listed)
        for rel in listed:
            with self.subTest(rel):
                built = Path(ARGS.build) / "apps" / rel
                installed = self.app / rel
                self.assertTrue(built.is_file(), f"{built}: listed, but the build did not make it")
                self.assertTrue(installed.is_file(), f"{installed} missing")
                self.assertEqual(os.access(installed, os.X_OK), os.access(built, os.X_OK))
                if not is_elf(built):
                    self.assertEqual(installed.read_bytes(), built.read_bytes())
        extra = sorted(str(p.relative_to(self.app)) for p in self.app.rglob("*")
                       if p.is_file() and str(p.relative_to(self.app)) not in listed)
        self.assertEqual(extra, [], "installed beside the programs, but no companion of theirs")

    def test_every_companion_of_the_build_tree_is_installed(self):
        self.check_companions_installed()

    def test_a_used_build_tree_passes(self):
        # What the programs write while they run beside themselves (scripts/run.sh converts
        # into apps/zelmora/output/) is no companion that the install lacks.
        made = []
        try:
            for app, names in USED_TREE_FILES.items():
                for name in names:
                    path = Path(ARGS.build) / "apps" / app / name
                    if path.exists():
                        continue
                    for parent in reversed(path.relative_to(Path(ARGS.build)).parents):
                        folder = Path(ARGS.build) / parent
                        if not folder.exists():
                            folder.mkdir()
                            made.append(folder)
                    path.write_bytes(b"used")
                    made.append(path)
            self.check_companions_installed()
        finally:
            for path in reversed(made):
                path.rmdir() if path.is_dir() else path.unlink()

    def test_launchers_are_relative_links_to_the_programs(self):
        for launcher, program in (("zelmora", "zelmora/zelmora"), ("zelmora-cli", "zelmora/zelmora-cli"),
                                  ("vidrune", "video/video")):
            with self.subTest(launcher):
                link = self.root / "bin" / launcher
                self.assertTrue(link.is_symlink(), f"{link} is not a link")
                # Relative, so it holds wherever the tree is unpacked (DESTDIR, dpkg -x, /usr).
                self.assertFalse(os.readlink(link).startswith("/"), os.readlink(link))
                self.assertEqual(link.resolve(), (self.app / program).resolve())
                self.assertTrue(os.access(link, os.X_OK))

    def test_installed_programs_load_and_carry_no_build_paths(self):
        for rel in ("zelmora/zelmora", "zelmora/zelmora-cli", "zelmora/data/conv", "video/video", "video/vv"):
            with self.subTest(rel):
                path = self.app / rel
                ldd = run(["ldd", str(path)])
                self.assertEqual(ldd.returncode, 0, ldd.stderr)
                self.assertNotIn("not found", ldd.stdout)
                dynamic = run(["readelf", "-d", str(path)]).stdout
                # A search path left from the build tree would load libraries from there.
                self.assertNotRegex(dynamic, r"\((RPATH|RUNPATH)\)")

    def test_desktop_entries(self):
        types, aliases = known_mime_types()
        for app_id, launcher in LAUNCHERS.items():
            with self.subTest(app_id):
                path = self.root / "share/applications" / f"{app_id}.desktop"
                check = run(["desktop-file-validate", str(path)])
                self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
                self.assertEqual(check.stdout.strip(), "", "desktop-file-validate warns")
                entry = desktop_entry(path)
                exec_words = entry["Exec"].split()
                self.assertEqual(exec_words[0], launcher)
                self.assertIn("%F", exec_words[1:])
                self.assertEqual(entry.get("TryExec"), launcher)
                self.assertTrue((self.root / "bin" / launcher).exists())
                for size in ICON_SIZES:
                    icon = self.root / f"share/icons/hicolor/{size}x{size}/apps/{entry['Icon']}.png"
                    self.assertEqual(png_size(icon) if icon.exists() else None, (size, size),
                                     f"{icon}")
                # And one that scales to any size: an SVG picture with a square view box.
                svg = self.root / f"share/icons/hicolor/scalable/apps/{entry['Icon']}.svg"
                self.assertTrue(svg.is_file(), f"{svg} missing")
                root = ElementTree.parse(svg).getroot()
                self.assertEqual(root.tag, "{http://www.w3.org/2000/svg}svg")
                box = [float(v) for v in root.get("viewBox", "").split()]
                self.assertEqual(len(box), 4, "no view box")
                self.assertEqual(box[2], box[3], "not square")
                self.assertTrue(list(root.iter("{http://www.w3.org/2000/svg}path")), "draws nothing")
                listed = [t for t in entry["MimeType"].split(";") if t]
                for kind in MEDIA_KINDS[app_id]:
                    self.assertTrue(any(t.startswith(kind) for t in listed), kind)
                for t in listed:
                    self.assertTrue(t in types or t in aliases, f"unknown MIME type {t}")
                canonical = {aliases.get(t, t) for t in listed}
                for ext in OPEN_DIALOG_EXTENSIONS[app_id]:
                    offered = {aliases.get(t, t) for t in mime_types_of_extension(ext)}
                    self.assertTrue(offered, f"shared-mime-info does not know .{ext}")
                    self.assertTrue(offered & canonical, f".{ext} ({offered}) not in MimeType")

    def test_metainfo_validates_with_the_tree(self):
        tree = run(["appstreamcli", "validate-tree", "--no-net", str(self.root)])
        self.assertEqual(tree.returncode, 0, tree.stdout + tree.stderr)
        for app_id in LAUNCHERS:
            with self.subTest(app_id):
                path = self.root / "share/metainfo" / f"{app_id}.metainfo.xml"
                check = run(["appstreamcli", "validate", "--no-net", str(path)])
                self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_metainfo_names_this_release(self):
        version = cmake_variable(Path(ARGS.build) / "CPackConfig.cmake", "CPACK_PACKAGE_VERSION")
        self.assertTrue(version)
        for app_id in LAUNCHERS:
            with self.subTest(app_id):
                xml = ElementTree.parse(self.root / "share/metainfo" / f"{app_id}.metainfo.xml")
                releases = xml.getroot().findall("releases/release")
                self.assertTrue(releases, "no <releases>")
                self.assertEqual(releases[0].get("version"), version, "the newest release first")
                self.assertRegex(releases[0].get("date", ""), r"^\d{4}-\d{2}-\d{2}$")

    def test_the_package_and_the_metainfo_name_every_format(self):
        description = cmake_variable(Path(ARGS.build) / "CPackConfig.cmake", "CPACK_PACKAGE_DESCRIPTION")
        metainfo = (self.root / "share/metainfo/net.zelmora.Zelmora.metainfo.xml").read_text()
        for where, text in (("package description", description), ("metainfo", metainfo)):
            for name in AUDIO_FORMATS:
                with self.subTest(where=where, format=name):
                    self.assertRegex(text, rf"\b{name}\b")

    def test_every_program_names_the_package_version(self):
        version = cmake_variable(Path(ARGS.build) / "CPackConfig.cmake", "CPACK_PACKAGE_VERSION")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        for rel in ("zelmora/zelmora", "zelmora/zelmora-cli", "video/video", "zelmora/data/conv", "video/vv"):
            with self.subTest(rel):
                done = run([str(self.app / rel), "--version"], env=env, timeout=60)
                self.assertEqual(done.returncode, 0, done.stderr)
                first = done.stdout.splitlines()[0] if done.stdout else ""
                self.assertRegex(first, rf"(^| ){re.escape(version)}(,|$)")

    def test_metainfo_screenshots_are_the_readme_pictures(self):
        readme = (self.source / "README.md").read_text(encoding="utf-8")
        shown = set(re.findall(r"\]\((docs/screenshots/[^)]+\.png)\)", readme))
        base = ARGS.screenshot_base.rstrip("/") + "/"
        for app_id, launcher in LAUNCHERS.items():
            with self.subTest(app_id):
                xml = (self.root / "share/metainfo" / f"{app_id}.metainfo.xml").read_text()
                self.assertIn(f'<launchable type="desktop-id">{app_id}.desktop</launchable>', xml)
                self.assertIn(f"<binary>{launcher}</binary>", xml)
                urls = re.findall(r"<image[^>]*>([^<]+)</image>", xml)
                self.assertTrue(urls, "no screenshots")
                for url in urls:
                    self.assertTrue(url.startswith(base), url)
                    rel = "docs/screenshots/" + url[len(base):]
                    self.assertTrue((self.source / rel).is_file(), f"{rel} does not exist")
                    self.assertIn(rel, shown, f"{rel} is not a picture of the README")

    def test_bash_completion_of_the_command_line_program(self):
        path = self.root / "share/bash-completion/completions/zelmora-cli"
        self.assertTrue(path.is_file(), f"{path} missing")
        self.assertEqual(run(["bash", "-n", str(path)]).returncode, 0)
        # With bash-completion's helpers loaded, the script registers itself and offers the
        # formats after --format.
        helpers = Path("/usr/share/bash-completion/bash_completion")
        if not helpers.is_file():
            self.skipTest("bash-completion is not installed")
        script = (f"source {helpers}; source {path}; complete -p zelmora-cli; "
                  "COMP_WORDS=(zelmora-cli --format o); COMP_CWORD=2; COMP_LINE='zelmora-cli --format o'; "
                  "COMP_POINT=${#COMP_LINE}; _zelmora_cli zelmora-cli o --format; echo \"${COMPREPLY[@]}\"")
        done = run(["bash", "-c", script])
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("-F _zelmora_cli zelmora-cli", done.stdout)
        self.assertIn("ogg opus", done.stdout)

    def test_man_pages(self):
        codes = failure_codes(self.source / "converters/common/errors.h")
        self.assertTrue(codes)
        for name in MAN_PAGES:
            with self.subTest(name):
                path = self.root / "share/man/man1" / f"{name}.1.gz"
                text = gzip.decompress(path.read_bytes()).decode("utf-8")
                self.assertRegex(text, rf"\.SH NAME\n{re.escape(name.replace('-', chr(92) + '-'))} \\- \S")
                self.assertRegex(text, rf'\.TH {name.upper()} 1 ')
                groff = run(["groff", "-k", "-man", "-Tutf8", "-ww", "-z"], input=text)
                self.assertEqual((groff.returncode, groff.stderr), (0, ""))
                # Every page names the others.
                see_also = text.split(".SH SEE ALSO", 1)[1]
                for other in set(MAN_PAGES) - {name}:
                    self.assertIn(f"\\fB{other}\\fR(1)", see_also)
                if name in ("conv", "vv"):
                    status = text.split(".SH EXIT STATUS", 1)[1].split(".SH ", 1)[0]
                    listed = sorted(int(c) for c in re.findall(r"^\.B (\d+)$", status, re.M))
                    self.assertEqual(listed, [0] + codes)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--appdir", required=True)
    parser.add_argument("--screenshot-base", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
