#!/usr/bin/env python3
"""GNU parallel sending jobs over ssh to a worker that shares no storage with the submitting
side: each input travels to the worker (--transferfile), the job runs in the worker's own folder,
the output comes back (--return) and nothing is left on the worker (--cleanup).

    test_parallel_ssh.py --conv CONV --cli ZELMORA_CLI [unittest options]
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import engines  # noqa: E402
import jobs  # noqa: E402


class SshParallelTest(engines.EngineTest):
    @classmethod
    def setUpClass(cls):
        cls.worker = cls.engines[0]
        cls.parallel = engines.require_programs("parallel", "rsync")["parallel"]

    def setUp(self):
        self.root = self.ws.folder(self.id().split(".")[-1])
        # rsync 3.2.4 and later quote the remote file names themselves; GNU parallel quotes them
        # too, so a name with a space arrives as "'./a b.mp3'" unless rsync is told the old way.
        self.env = dict(os.environ, HOME=str(self.ws.folder("home")), RSYNC_OLD_ARGS="1")

    def run_over_ssh(self, batch, *options):
        """Runs every job of batch on the worker; returns parallel's result."""
        jobs.write_jobs(self.root / "jobs.jsonl", batch)
        # What each job needs to travel: its index, its input and its output.
        manifest = self.root / "manifest.tsv"
        manifest.write_text("".join(f"{i}\t{j.input}\t{j.output}\n" for i, j in enumerate(batch)),
                            encoding="utf-8")
        # The worker has the job's files in its own folder: the root the plan was made from is
        # that folder there.
        command = jobs.engine_command(jobs.job_argv("jobs.jsonl", "{1}", "--root-map",
                                                    f"{self.root}=."))
        argv = [self.parallel, "--will-cite", "--ssh", jobs.engine_command(self.worker.ssh_command()),
                # A folder for each job: --cleanup removes folders that it leaves empty, which
                # in a shared one would pull the output folder away from a job still starting.
                "-S", engines.WORKER, "--workdir", f"{self.worker.remote}/{{#}}",
                "--transferfile", "jobs.jsonl", "--transferfile", "{2}", "--return", "{3}",
                "--cleanup", "--colsep", "\t", "--joblog", str(self.root / "joblog.tsv"),
                *options, command, "::::", str(manifest)]
        return subprocess.run(argv, cwd=self.root, env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=180)

    def test_inputs_travel_outputs_return_nothing_stays(self):
        batch = jobs.make_library(self.root)
        before = set(jobs.files_under(self.root))
        proc = self.run_over_ssh(batch, "-j2")
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)

        # Every job ran in the worker's folder, where only the transfer can have put its input.
        ran = sorted(e["input"] for e in jobs.events(proc.stdout, "started"))
        self.assertEqual(ran, sorted(f"{self.worker.remote}/{i + 1}/{j.input}"
                                     for i, j in enumerate(batch)))
        log = jobs.joblog(self.root / "joblog.tsv")
        self.assertEqual({r["host"] for r in log}, {engines.WORKER})
        self.assertEqual([r["exit"] for r in log], [0] * len(batch))

        for job in batch:
            jobs.check_output(self, self.root / job.output, job.seconds)
        after = set(jobs.files_under(self.root))
        self.assertEqual(after - before, {j.output for j in batch} | {"joblog.tsv", "jobs.jsonl", "manifest.tsv"})
        # --cleanup removes what it sent and fetched, and folders it left empty (the work folder
        # itself among them).
        self.assertEqual(jobs.files_under(self.worker.remote), [], "left on the worker")
        self.assertEqual(jobs.hidden_debris(self.root), [])

    def test_failed_job_brings_back_nothing(self):
        # A job whose conversion fails (the input is not media) returns no output, and its
        # transferred input is still cleaned up on the worker.
        batch = jobs.make_library(self.root, ["10 good", "11 not media"])
        (self.root / batch[1].input).write_bytes(b"this is not a sound file\n" * 100)
        proc = self.run_over_ssh(batch, "-j1")
        self.assertEqual(proc.returncode, 1, proc.stdout + proc.stderr)
        exits = {r["seq"] - 1: r["exit"] for r in jobs.joblog(self.root / "joblog.tsv")}
        self.assertEqual(exits, {0: 0, 1: 1})  # a failed conversion: 1, so the engine may retry
        jobs.check_output(self, self.root / batch[0].output, batch[0].seconds)
        self.assertFalse((self.root / batch[1].output).exists())
        self.assertEqual(jobs.files_under(self.worker.remote), [], "left on the worker")


if __name__ == "__main__":
    sys.exit(engines.run_tests(lambda ws: [engines.SshWorker(ws)]))
