#!/usr/bin/env python3
"""GNU parallel running a job file on this machine, two jobs at a time: every output present and
right, failed jobs retried alone from the job log, an interrupted run resumed without running a
finished job again, a worker killed mid-job and the same command run again, and a plan of 200
jobs that `zelmora-cli status` then counts as done.

    test_parallel_local.py --conv CONV --cli ZELMORA_CLI [unittest options]
"""

import json
import os
import signal
import subprocess
import sys
import time

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

    def parallel(self, count, *options, bound=120):
        return subprocess.run(self.argv(count, *options), cwd=self.root, env=self.env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=bound)

    def library(self, names=jobs.AWKWARD_NAMES):
        batch = jobs.make_library(self.root, names)
        jobs.write_jobs(self.root / "jobs.jsonl", batch)
        return batch

    def running_here(self):
        """Processes working in this test's folder (the jobs and their converters)."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                if os.readlink(f"/proc/{pid}/cwd") == str(self.root):
                    found.append(int(pid))
            except OSError:
                pass
        return found

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
        # A job parallel was starting as the stop came may go on unlogged after parallel has
        # ended (seen now and then): it is waited for, never touched.
        engines.wait_until(lambda: not self.running_here(), "the jobs left running end", 60)
        logged = {r["seq"] - 1: r["exit"] for r in jobs.joblog(self.log)}
        finished = {i for i, code in logged.items() if code == 0}
        self.assertLess(len(finished), len(batch), "the run ended before it was interrupted")
        for i, job in enumerate(batch):
            out = self.root / job.output
            if i in finished or (i not in logged and out.exists()):
                jobs.check_output(self, out, job.seconds)  # whole, even if nobody logged it
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

    def converted(self, out):
        """The inputs zelmora-cli converted, by the events GNU parallel passed on."""
        return [e["input"] for e in jobs.events(out, "finished") if e["outcome"] == "converted"]

    def test_worker_killed_mid_job_then_run_again(self):
        # A worker (zelmora-cli) dies by SIGKILL while its converter runs; the converter outlives
        # it and finishes its file, as conv does when the program reading it goes away. The same
        # command run again converts only the jobs that were never done: the killed job's
        # output is recognised from the journal's record, not converted again into " (2)".
        names = [f"{n:02d} track" for n in range(6)]
        batch = jobs.make_library(self.root, names)
        long = jobs.Job("in/99 long.flac", "out/99 long.mp3", 120.0)
        jobs.make_clip(self.root / long.input, long.seconds, rate=8000)
        batch.insert(1, long)
        jobs.write_jobs(self.root / "jobs.jsonl", batch)
        first = subprocess.Popen(self.argv(len(batch), "-j2"), cwd=self.root, env=self.env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True)
        conv = os.path.realpath(jobs.TOOLS.cli.parent / "data" / "conv")
        try:
            def long_conv():
                for pid in filter(str.isdigit, os.listdir("/proc")):
                    try:
                        if (os.path.realpath(f"/proc/{pid}/exe") == conv
                                and b"99 long" in open(f"/proc/{pid}/cmdline", "rb").read()):
                            return int(pid)
                    except OSError:
                        pass
                return None
            pid = engines.wait_until(long_conv, "the long job converting", 60, 0.01)
            with open(f"/proc/{pid}/stat") as f:
                worker = int(f.read().rsplit(")", 1)[1].split()[1])
            os.kill(worker, signal.SIGKILL)
            out, _ = first.communicate(timeout=120)
        finally:
            if first.poll() is None:
                first.kill()
                first.wait()
        self.assertNotEqual(first.returncode, 0, "the killed job counts as failed")
        # The orphaned converter ends by itself (this process, a subreaper, then reaps it).
        def ended():
            try:
                with open(f"/proc/{pid}/stat") as f:
                    return f.read().rsplit(")", 1)[1].split()[0] == "Z"
            except OSError:
                return True
        engines.wait_until(ended, "the orphan ended", 120)
        try:
            os.waitpid(pid, 0)
        except ChildProcessError:
            pass
        first_run = self.converted(out)
        self.assertNotIn(str(self.root / long.input), first_run)
        done = {j.output: (self.root / j.output).stat().st_mtime_ns for j in batch
                if (self.root / j.output).exists()}

        proc = self.parallel(len(batch), "-j2")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assert_all_done(batch)
        again = self.converted(proc.stdout)
        self.assertEqual(sorted(first_run + again), sorted(str(self.root / j.input) for j in batch
                                                           if j is not long),
                         "every job converted once; the killed one by its orphan")
        for output, mtime in done.items():
            self.assertEqual((self.root / output).stat().st_mtime_ns, mtime, output)
        self.assertEqual([p for p in jobs.files_under(self.root / "out") if "(2)" in p], [])

    def test_two_hundred_jobs_and_status(self):
        count = 200
        inputs = []
        for n in range(count):
            src = f"in/{n // 50}/{n:03d}.wav"
            jobs.make_clip(self.root / src, 0.1, rate=8000)
            inputs.append(src)
        lines = jobs.plan(self.root, ["in"], "wav", "out")
        (self.root / "jobs.jsonl").write_text("".join(line + "\n" for line in lines))
        self.assertEqual(len(lines), count)
        status = [str(jobs.TOOLS.cli), "status", "--json", "jobs.jsonl"]
        before = json.loads(subprocess.run(status, cwd=self.root, capture_output=True,
                                           text=True).stdout)
        self.assertEqual((before["done"], before["to_do"]), (0, count))
        started = time.monotonic()
        proc = self.parallel(count, "-j2", bound=600)  # a generous bound for a busy machine
        seconds = time.monotonic() - started
        self.assertEqual(proc.returncode, 0, proc.stderr[-2000:])
        self.assertEqual(len(self.converted(proc.stdout)), count)
        outputs = jobs.files_under(self.root / "out")
        self.assertEqual(len(outputs), count)
        after = subprocess.run(status, cwd=self.root, capture_output=True, text=True)
        self.assertEqual(after.returncode, 0, after.stderr)
        state = json.loads(after.stdout)
        self.assertEqual((state["done"], state["to_do"], state["failed"]), (count, 0, 0))
        print(f"\n200 jobs through parallel -j2: {seconds:.1f} s", file=sys.stderr)


if __name__ == "__main__":
    sys.exit(engines.run_tests(lambda ws: [Parallel()]))
