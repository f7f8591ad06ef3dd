#!/usr/bin/env python3
"""The scripts a user runs by hand, with stand-ins for the long steps they call.

    check_scripts.py --source SOURCE_DIR [unittest options]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ARGS = None

# Stand-ins on PATH: the package script's checks, configure, build and cpack take no time, and
# cpack leaves an empty package where the real one would be.
FAKES = {
    "dpkg-query": "#!/bin/sh\nprintf 'install ok installed'\n",
    "cmake": "#!/bin/sh\n"
             "while [ $# -gt 0 ]; do\n"
             "  if [ \"$1\" = -B ]; then mkdir -p \"$2\"; fi\n"
             "  shift\n"
             "done\n",
    "cpack": "#!/bin/sh\n: > zelmora-suite_9.9_amd64.deb\n",
}


class PackageScript(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="zm-package-")
        self.addCleanup(self.tmp.cleanup)
        self.fakes = Path(self.tmp.name) / "bin"
        self.fakes.mkdir()
        for name, text in FAKES.items():
            path = self.fakes / name
            path.write_text(text)
            path.chmod(0o755)

    def run_script(self, build_arg, cwd):
        env = dict(os.environ, PATH=f"{self.fakes}:{os.environ['PATH']}")
        return subprocess.run(["bash", str(Path(ARGS.source) / "scripts/package.sh"), build_arg],
                              cwd=cwd, env=env, capture_output=True, text=True, timeout=120)

    def test_prints_the_packages_absolute_path(self):
        out = Path(self.tmp.name) / "pkg out"
        elsewhere = Path(self.tmp.name) / "elsewhere"
        elsewhere.mkdir()
        cases = [
            # A build folder given relative to the repository, as the usage says.
            ("relative to the repository", os.path.relpath(out, ARGS.source), elsewhere),
            ("absolute", str(out), elsewhere),
        ]
        for name, build_arg, cwd in cases:
            with self.subTest(name):
                done = self.run_script(build_arg, cwd)
                self.assertEqual(done.returncode, 0, done.stderr)
                lines = done.stdout.splitlines()
                self.assertEqual(len(lines), 1, done.stdout)
                printed = Path(lines[0])
                self.assertTrue(printed.is_absolute(), lines[0])
                self.assertTrue(printed.is_file(), lines[0])
                self.assertEqual(printed, (out / "zelmora-suite_9.9_amd64.deb").resolve())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
