#!/usr/bin/env python3
"""A Slurm array job over a job list on a single-node cluster of this machine: every task picks
its job by $SLURM_ARRAY_TASK_ID, every output is there; a task cancelled mid-conversion leaves no
broken output, and submitting it again completes it.

    test_slurm.py --conv CONV --cli ZELMORA_CLI [unittest options]
"""

import os
import re
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import engines  # noqa: E402
import jobs  # noqa: E402

LONG_SECONDS = 300  # converts for a few seconds: long enough to be cancelled mid-way


def exe_of(pid):
    try:
        return os.path.realpath(f"/proc/{pid}/exe")
    except OSError:
        return None


class SlurmArrayTest(engines.EngineTest):
    @classmethod
    def setUpClass(cls):
        cls.slurm = cls.engines[0]

    def setUp(self):
        self.root = self.ws.folder(self.id().split(".")[-1])
        self.logs = self.root / "logs"
        self.logs.mkdir()
        self.script = engines.batch_script(self.root / "job.sh",
                                           jobs.job_argv(self.root / "jobs.jsonl", "{index}"))

    def submit(self, array):
        return self.slurm.sbatch(self.script, f"--array={array}", f"--chdir={self.root}",
                                 f"--output={self.logs}/%A_%a.out", "--job-name=zm-test")

    def log_of(self, job, task):
        path = self.logs / f"{job}_{task}.out"
        return path.read_text(errors="replace") if path.exists() else ""

    def test_array_task_per_job(self):
        batch = jobs.make_library(self.root)
        jobs.write_jobs(self.root / "jobs.jsonl", batch)
        job = self.submit(f"0-{len(batch) - 1}")
        self.slurm.wait_gone(job, 180)

        done = self.slurm.finished(job)
        self.assertEqual(done, {i: ("COMPLETED", "0:0") for i in range(len(batch))},
                         "\n".join(self.log_of(job, i) for i in range(len(batch))))
        for i, j in enumerate(batch):
            started = jobs.events(self.log_of(job, i), "started")
            self.assertEqual([e["input"] for e in started], [str(self.root / j.input)])
            jobs.check_output(self, self.root / j.output, j.seconds)
        self.assertEqual(jobs.hidden_debris(self.root), [])

    def kill_conv(self, task):
        """SIGKILL to the conv of task, as the OOM killer or a crash would end it."""
        conv = os.path.realpath(jobs.TOOLS.conv)
        mine = [p for p in self.slurm.pids(task) if exe_of(p) == conv]
        self.assertEqual(len(mine), 1, f"conv of {task} not found")
        os.kill(mine[0], signal.SIGKILL)

    def test_stopped_task_runs_again_whole(self):
        cases = [
            # (what, how the task is stopped, its state and exit code afterwards; Slurm records
            # a cancelled batch task as 0:0 whatever its program returned)
            ("cancelled", lambda task: self.slurm.scancel(task), ("CANCELLED", "0:0")),
            # (zelmora-cli sees its converter killed: a failure, 1, so that it is run again)
            ("killed", self.kill_conv, ("FAILED", "1:0")),
        ]
        batch = [jobs.Job("in/short.wav", "out/short.mp3", 1.0)]
        jobs.make_clip(self.root / batch[0].input, 1.0)
        for what, stop, state in cases:
            with self.subTest(case=what):
                long = jobs.Job(f"in/long {what}.flac", f"out/long {what}.opus", LONG_SECONDS)
                jobs.make_clip(self.root / long.input, LONG_SECONDS, rate=8000)
                jobs.write_jobs(self.root / "jobs.jsonl", batch + [long])
                out = self.root / long.output

                job = self.submit("0-1")
                # Task 1 is converting once zelmora-cli has reported progress.
                engines.wait_until(lambda: jobs.events(self.log_of(job, 1), "progress"),
                                   f"task 1 of {job} converting", 120, 0.02)
                stop(f"{job}_1")
                self.slurm.wait_gone(job, 120)
                finished = self.slurm.finished(job)
                self.assertEqual(finished.get(0), ("COMPLETED", "0:0"))
                self.assertEqual(finished.get(1), state, self.log_of(job, 1))
                self.assertNotIn("converted", [e.get("outcome") for e in
                                               jobs.events(self.log_of(job, 1), "finished")],
                                 "the task was not stopped mid-way")
                self.assertFalse(out.exists(), "a stopped task left its output")
                self.assertEqual(jobs.hidden_debris(self.root), [])

                again = self.submit("1")
                self.slurm.wait_gone(again, 180)
                self.assertEqual(self.slurm.finished(again), {1: ("COMPLETED", "0:0")},
                                 self.log_of(again, 1))
                jobs.check_output(self, out, LONG_SECONDS)
                self.assertEqual(jobs.hidden_debris(self.root), [])

    def test_job_outside_the_list_fails(self):
        # An array larger than the list: the extra task fails with the usage code, the others
        # are untouched by it.
        batch = jobs.make_library(self.root, ["21 one"])
        jobs.write_jobs(self.root / "jobs.jsonl", batch)
        job = self.submit("0-1")
        self.slurm.wait_gone(job, 120)
        self.assertEqual(self.slurm.finished(job),
                         {0: ("COMPLETED", "0:0"), 1: ("FAILED", "2:0")})
        self.assertTrue(re.search(r"no job 1", self.log_of(job, 1)), self.log_of(job, 1))
        jobs.check_output(self, self.root / batch[0].output, batch[0].seconds)


if __name__ == "__main__":
    sys.exit(engines.run_tests(lambda ws: [engines.SlurmCluster(ws)]))
