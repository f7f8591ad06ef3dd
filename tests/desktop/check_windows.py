#!/usr/bin/env python3
"""Both programs on an X server of the test's own (Xvfb), as a window manager and a task bar see
them: the window class, the icon in the sizes they pick from, and a window that lies on the
screen, also when the user's scale makes the designed size too big for it.

    check_windows.py --zelmora PATH --video PATH --dist DIST_DIR [unittest options]

Skipped (exit 77) without Xvfb, xwininfo or xprop.
"""
import argparse
import contextlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

ARGS = None
SCREEN = (1280, 1024)
SKIP = 77


def start_x_server():
    """Xvfb on a free display; returns the process and the display's name."""
    read, write = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24",
         "-nolisten", "tcp"],
        pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    deadline = time.monotonic() + 30
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        chunk = os.read(read, 16)
        if not chunk:
            break
        number += chunk
    os.close(read)
    if not number.strip():
        server.kill()
        server.wait()
        raise RuntimeError("Xvfb did not start")
    return server, ":" + number.decode().strip()


def top_windows(display):
    """{id: (name, (instance, class), (x, y, width, height))} of the named top-level windows."""
    tree = subprocess.run(["xwininfo", "-root", "-children"], env=dict(os.environ, DISPLAY=display),
                          capture_output=True, text=True, timeout=30).stdout
    found = {}
    pattern = re.compile(r'^\s*(0x[0-9a-f]+) "([^"]*)": \("([^"]*)" "([^"]*)"\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)')
    for line in tree.splitlines():
        m = pattern.match(line)
        if m:
            found[m.group(1)] = (m.group(2), (m.group(3), m.group(4)),
                                 tuple(int(m.group(i)) for i in (7, 8, 5, 6)))
    return found


def icon_sizes(display, window):
    """The sizes of the pictures in a window's _NET_WM_ICON."""
    out = subprocess.run(["xprop", "-id", window, "-f", "_NET_WM_ICON", "32c", " = $0+", "_NET_WM_ICON"],
                         env=dict(os.environ, DISPLAY=display), capture_output=True, text=True,
                         timeout=30).stdout
    if "=" not in out:
        return []
    values = [int(v) for v in out.split("=", 1)[1].replace(",", " ").split()]
    sizes, at = [], 0
    while at + 2 <= len(values):
        width, height = values[at], values[at + 1]
        if width <= 0 or height <= 0:
            break
        sizes.append((width, height))
        at += 2 + width * height
    return sizes


class Windows(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.display = start_x_server()
        cls.home = Path(tempfile.mkdtemp(prefix="zm-windows-"))
        run = cls.home / "run"
        run.mkdir(mode=0o700)
        # The launcher's name, as the installed link gives it.
        cls.vidrune = cls.home / "bin" / "vidrune"
        cls.vidrune.parent.mkdir()
        cls.vidrune.symlink_to(ARGS.video)

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait()
        shutil.rmtree(cls.home, ignore_errors=True)

    def environment(self, extra):
        env = {k: v for k, v in os.environ.items()
               if k not in ("WAYLAND_DISPLAY", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS")}
        env.update(DISPLAY=self.display, QT_QPA_PLATFORM="xcb", HOME=str(self.home),
                   XDG_RUNTIME_DIR=str(self.home / "run"), XDG_CONFIG_HOME=str(self.home / "config"),
                   XDG_STATE_HOME=str(self.home / "state"), XDG_CACHE_HOME=str(self.home / "cache"),
                   VIDEO_NO_BROWSER="1", DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent")
        env.update(extra)
        return env

    @contextlib.contextmanager
    def shown_window(self, program, extra, title):
        """Runs `program` while the block runs; gives its top-level window titled `title` once it
        is mapped: (id, WM_CLASS, geometry)."""
        before = set(top_windows(self.display))
        process = subprocess.Popen([str(program)], env=self.environment(extra),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 60
            shown = None
            while shown is None and time.monotonic() < deadline:
                for window, (name, wm_class, geometry) in top_windows(self.display).items():
                    if window not in before and name == title and geometry[2] > 1:
                        time.sleep(0.3)  # its properties are set with the mapping
                        shown = (window, wm_class, top_windows(self.display)[window][2])
                if shown is None and process.poll() is not None:
                    self.fail(f"{program} ended with {process.returncode}")
                time.sleep(0.1)
            if shown is None:
                self.fail(f"no window {title!r} of {program}")
            yield shown
        finally:
            process.terminate()
            process.wait()

    def test_both_windows_carry_their_name_and_icon(self):
        cases = [
            ("zelmora", ARGS.zelmora, "Zelmora", ("zelmora", "Zelmora"), "net.zelmora.Zelmora"),
            ("vidrune from its launcher", self.vidrune, "Vidrune 10.0.2", ("vidrune", "vidrune"),
             "net.zelmora.Vidrune"),
            ("video in the build tree", ARGS.video, "Vidrune 10.0.2", ("video", "vidrune"),
             "net.zelmora.Vidrune"),
        ]
        for name, program, title, wm_class, desktop_id in cases:
            with self.subTest(name):
                with self.shown_window(program, {}, title) as (window, shown_class, _):
                    sizes = icon_sizes(self.display, window)
                self.assertEqual(shown_class, wm_class)
                # The desktop entry names that class, so task bars find its name and icon.
                entry = (Path(ARGS.dist) / f"{desktop_id}.desktop").read_text(encoding="utf-8")
                self.assertIn(f"\nStartupWMClass={wm_class[1]}\n", entry)
                for size in (16, 32, 48):
                    self.assertIn((size, size), sizes, f"_NET_WM_ICON has {sizes}")

    def test_windows_fit_the_screen_at_every_scale(self):
        cases = [
            ("zelmora", ARGS.zelmora, "Zelmora", "1"),
            ("zelmora at scale 2", ARGS.zelmora, "Zelmora", "2"),
            ("video", ARGS.video, "Vidrune 10.0.2", "1"),
            ("video at scale 2", ARGS.video, "Vidrune 10.0.2", "2"),
        ]
        for name, program, title, scale in cases:
            with self.subTest(name):
                with self.shown_window(program, {"QT_SCALE_FACTOR": scale}, title) as shown:
                    x, y, width, height = shown[2]
                self.assertGreaterEqual(x, 0)
                self.assertGreaterEqual(y, 0)
                self.assertLessEqual(x + width, SCREEN[0])
                self.assertLessEqual(y + height, SCREEN[1])
                # As large as the screen allows: scaled down only as far as it must be.
                if scale != "1":
                    self.assertTrue(width > SCREEN[0] * 0.9 or height > SCREEN[1] * 0.85,
                                    f"{width}x{height}")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--zelmora", required=True)
    parser.add_argument("--video", required=True)
    parser.add_argument("--dist", required=True)
    ARGS, rest = parser.parse_known_args()
    for tool in ("Xvfb", "xwininfo", "xprop"):
        if not shutil.which(tool):
            print(f"check_windows: {tool} is not installed; skipped")
            sys.exit(SKIP)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
