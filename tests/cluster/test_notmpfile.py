#!/usr/bin/env python3
"""conv on FUSE file systems that refuse O_TMPFILE (as network shares can): the output goes
through a hidden named temporary file beside it, which must never be left after a success, never
stand under the real name, and be removed by the next run after a SIGKILL.

    test_notmpfile.py --conv CONV --cli ZELMORA_CLI [unittest options]
"""

import os
import select
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import engines  # noqa: E402
import jobs  # noqa: E402

LONG_SECONDS = 600  # converts for seconds: long enough to be caught mid-write


def conv(*args, stdout=subprocess.DEVNULL):
    return subprocess.Popen([str(jobs.TOOLS.conv), *map(str, args)], stdin=subprocess.DEVNULL,
                            stdout=stdout, stderr=subprocess.PIPE)


def convert(src, out):
    proc = conv("-i", src, "-y", "-vn", out)
    _, err = proc.communicate(timeout=120)
    return proc.returncode, err.decode(errors="replace")


def stopped_mid_write(src, out):
    """Starts conv, waits for its first progress line (the output is open and being written),
    then stops the process with SIGSTOP; returns it."""
    proc = conv("-i", src, "-y", "-vn", out, stdout=subprocess.PIPE)
    seen = b""
    deadline = time.monotonic() + 60
    while b"size=" not in seen:
        left = deadline - time.monotonic()
        ready, _, _ = select.select([proc.stdout], [], [], max(left, 0))
        chunk = os.read(proc.stdout.fileno(), 4096) if ready else b""
        if not chunk:
            proc.kill()
            proc.wait()
            raise AssertionError(f"conv wrote no progress for {out} (status {proc.returncode})")
        seen += chunk
    proc.send_signal(signal.SIGSTOP)
    return proc


def kill(proc):
    proc.kill()  # SIGKILL reaches a stopped process too
    proc.wait()
    proc.stdout.close()
    proc.stderr.close()


class NoTmpfileTest(engines.EngineTest):
    @classmethod
    def setUpClass(cls):
        cls.media = cls.ws.folder("media")
        cls.short = jobs.make_clip(cls.media / "short.wav", 1.5)
        cls.other = jobs.make_clip(cls.media / "other.wav", 2.5, frequency=660)
        cls.long = jobs.make_clip(cls.media / "long.flac", LONG_SECONDS, rate=8000)

    def folder(self, fs):
        """This test's own folder on the file system."""
        folder = fs.mount / self.id().split(".")[-1]
        folder.mkdir(exist_ok=True)
        return folder

    def assert_no_debris(self, fs):
        # Seen through the mount, and in the folder behind it.
        places = [self.folder(fs)]
        if fs.backing:
            places.append(fs.backing / places[0].name)
        for place in places:
            self.assertEqual(jobs.hidden_debris(place), [], f"debris in {place}")

    def test_fixture_refuses_o_tmpfile(self):
        for fs in self.engines:
            with self.subTest(fs=fs.kind):
                self.assertTrue(engines.refuses_tmpfile(fs.mount))

    def test_outputs_complete_and_no_debris(self):
        cases = [
            # (what, output name, an output there already)
            ("new mp3", "new.mp3", False),
            ("replaces an older output", "again.mp3", True),
            ("name with spaces and quotes", "it's a \"name\" with spaces.ogg", False),
            ("non-ASCII name", "Ünïcödé 日本.flac", False),
            ("in a subfolder", "sub/folder/deep.wav", False),
        ]
        for fs in self.engines:
            for what, name, existing in cases:
                with self.subTest(fs=fs.kind, case=what):
                    out = self.folder(fs) / name
                    out.parent.mkdir(parents=True, exist_ok=True)
                    if existing:
                        self.assertEqual(convert(self.other, out)[0], 0)
                    status, err = convert(self.short, out)
                    self.assertEqual(status, 0, err)
                    jobs.check_output(self, out, 1.5)
                    if fs.backing:
                        backed = fs.backing / out.relative_to(fs.mount)
                        self.assertEqual(backed.read_bytes(), out.read_bytes())
                    self.assert_no_debris(fs)

    def test_sigkill_mid_write_then_next_run_cleans(self):
        cases = [
            # (what, an older output stands under the name)
            ("new output", False),
            ("replacing an older output", True),
        ]
        for fs in self.engines:
            for what, existing in cases:
                with self.subTest(fs=fs.kind, case=what):
                    out = self.folder(fs) / f"killed {what}.opus"
                    old = None
                    if existing:
                        self.assertEqual(convert(self.other, out)[0], 0)
                        old = out.read_bytes()
                    proc = stopped_mid_write(self.long, out)
                    try:
                        debris = jobs.hidden_debris(out.parent)
                        # The named fallback is what runs here: its file is visible while writing.
                        self.assertEqual(len(debris), 1, debris)
                        self.assertIn(f".{out.name}.partial-", debris[0])
                        self.assertTrue(debris[0].split("-")[-2] == str(proc.pid), debris)
                    finally:
                        kill(proc)
                    # The real name holds the old file whole, or nothing.
                    if existing:
                        self.assertEqual(out.read_bytes(), old)
                    else:
                        self.assertFalse(out.exists())
                    # SIGKILL leaves the temporary; the next run for the same name removes it.
                    self.assertEqual(len(jobs.hidden_debris(out.parent)), 1)
                    status, err = convert(self.short, out)
                    self.assertEqual(status, 0, err)
                    jobs.check_output(self, out, 1.5)
                    self.assert_no_debris(fs)

    def test_running_writers_temporary_is_kept(self):
        # Another conv still writing the same output: its temporary is not stale, and a second
        # writer finishing first must leave it alone.
        for fs in self.engines:
            with self.subTest(fs=fs.kind):
                out = self.folder(fs) / "two writers.opus"
                proc = stopped_mid_write(self.long, out)
                try:
                    (theirs,) = jobs.hidden_debris(out.parent)
                    status, err = convert(self.short, out)
                    self.assertEqual(status, 0, err)
                    jobs.check_output(self, out, 1.5)
                    self.assertEqual(jobs.hidden_debris(out.parent), [theirs])
                finally:
                    kill(proc)
                status, err = convert(self.other, out)
                self.assertEqual(status, 0, err)
                jobs.check_output(self, out, 2.5)
                self.assert_no_debris(fs)


def mounts(ws):
    result = []
    for kind in engines.NoTmpfileMount.KINDS:
        fs = engines.NoTmpfileMount(ws, kind)
        fs.optional = True
        result.append(fs)
    return result


if __name__ == "__main__":
    sys.exit(engines.run_tests(mounts))
