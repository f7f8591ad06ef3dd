#!/usr/bin/env python3
"""GNU parallel running a job list on this machine, two jobs at a time: every output present and
right, failed jobs retried alone from the job log, an interrupted run resumed without running a
finished job again.

    test_parallel_local.py --conv CONV [unittest options]
"""

import os
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import engines  # noqa: E402
import jobs  # noqa: E402


class Parallel:
    """The parallel program; no daemon to start."""

    optional = False

    def start(self):
        self.path = engines.require_programs("parallel")["parallel"]

    def stop(self):
        pass


class ParallelLocalTest(engines.EngineTest):
    def setUp(self):
        self.root = self.ws.folder(self.id().split(".")[-1])
        self.log = self.root / "joblog.tsv"
        self.env = dict(os.environ, HOME=str(self.ws.folder("home")))

    def argv(self, count, *options):
        parallel = self.engines[0].path
        command = jobs.engine_command(jobs.job_argv("jobs.jsonl", "{}"))
        return [parallel, "--will-cite", "--joblog", str(self.log), *options, command, ":::",
                *map(str, range(count))]

    def parallel(self, count, *options):
        return subprocess.run(self.argv(count, *options), cwd=self.root, env=self.env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=120)

    def library(self, names=jobs.AWKWARD_NAMES):
        batch = jobs.make_library(self.root, names)
        jobs.write_jobs(self.root / "jobs.jsonl", batch)
        return batch

    def assert_all_done(self, batch):
        for job in batch:
            jobs.check_output(self, self.root / job.output, job.seconds)
        self.assertEqual(jobs.hidden_debris(self.root), [])

    def test_two_at_a_time_every_output_right(self):
        batch = self.library()
        proc = self.parallel(len(batch), "-j2")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assert_all_done(batch)
        log = jobs.joblog(self.log)
        self.assertEqual(sorted(r["seq"] for r in log), list(range(1, len(batch) + 1)))
        self.assertEqual([r["exit"] for r in log], [0] * len(batch))

    def test_failed_jobs_retried_alone(self):
        batch = self.library()
        missing = [2, 4]
        held = {}
        for i in missing:  # their inputs are not there yet (a mount that came late)
            src = self.root / batch[i].input
            held[i] = src.read_bytes()
            src.unlink()
        proc = self.parallel(len(batch), "-j2")
        self.assertEqual(proc.returncode, len(missing), proc.stderr)  # parallel: failed count
        exits = {r["seq"] - 1: r["exit"] for r in jobs.joblog(self.log)}
        self.assertEqual(exits, {i: 3 if i in missing else 0 for i in range(len(batch))})
        for i in missing:
            self.assertFalse((self.root / batch[i].output).exists())
        done = {i: (self.root / j.output).stat() for i, j in enumerate(batch) if i not in missing}

        for i, data in held.items():
            (self.root / batch[i].input).write_bytes(data)
        proc = self.parallel(len(batch), "-j2", "--resume-failed")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assert_all_done(batch)
        reruns = jobs.joblog(self.log)[len(batch):]
        self.assertEqual(sorted(r["seq"] - 1 for r in reruns), missing)
        for i, st in done.items():  # not converted again
            now = (self.root / batch[i].output).stat()
            self.assertEqual((now.st_ino, now.st_mtime_ns), (st.st_ino, st.st_mtime_ns))

    def test_interrupted_run_resumed(self):
        names = [f"{n:02d} track" for n in range(8)]
        batch = self.library(names)
        first = subprocess.Popen(self.argv(len(batch), "-j1"), cwd=self.root, env=self.env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        try:
            engines.wait_until(lambda: len(jobs.joblog(self.log)) >= 2, "two jobs done", 60, 0.01)
        finally:
            # One SIGTERM: parallel starts nothing new and waits for the running job.
            first.send_signal(signal.SIGTERM)
            first.wait(60)
        finished = {r["seq"] - 1 for r in jobs.joblog(self.log) if r["exit"] == 0}
        self.assertLess(len(finished), len(batch), "the run ended before it was interrupted")
        for i, job in enumerate(batch):
            out = self.root / job.output
            if i in finished:
                jobs.check_output(self, out, job.seconds)
            else:
                self.assertFalse(out.exists(), f"job {i} was not finished but left {out}")
        self.assertEqual(jobs.hidden_debris(self.root), [])
        done = {i: (self.root / batch[i].output).stat().st_mtime_ns for i in finished}

        proc = self.parallel(len(batch), "-j2", "--resume")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assert_all_done(batch)
        seqs = [r["seq"] for r in jobs.joblog(self.log)]
        self.assertEqual(sorted(seqs), list(range(1, len(batch) + 1)), "a job ran twice")
        for i, mtime in done.items():
            self.assertEqual((self.root / batch[i].output).stat().st_mtime_ns, mtime)


if __name__ == "__main__":
    sys.exit(engines.run_tests(lambda ws: [Parallel()]))
