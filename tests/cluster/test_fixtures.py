#!/usr/bin/env python3
"""The engine fixtures' own rules, without an engine: commands survive every layer of quoting,
a daemon is stopped even when it ignores SIGTERM and never signalled after its exit, waits are
bounded, the job runner refuses what is not a job.

    test_fixtures.py --conv CONV --cli ZELMORA_CLI [unittest options]
"""

import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import engines  # noqa: E402
import jobs  # noqa: E402

WORDS = ["plain", "two  spaces", "it's", 'a "quote"', "$HOME", "`id`", "a;b&c|d", "*?[x]",
         "Ünïcödé 日本", "-n", "back\\slash", "tab\there"]
PRINT_ARGS = [sys.executable, "-c", "import sys; print('\\0'.join(sys.argv[1:]), end='')"]


class QuotingTest(engines.EngineTest):
    def test_batch_script_hands_words_through(self):
        # The words of a job command reach the program as they were, with the task index where
        # the script says so.
        for word in WORDS:
            with self.subTest(word=word):
                script = engines.batch_script(self.ws.path / "job.sh",
                                              PRINT_ARGS + [word, "{index}"])
                out = subprocess.run([script], env=dict(os.environ, SLURM_ARRAY_TASK_ID="7"),
                                     capture_output=True, text=True, check=True).stdout
                self.assertEqual(out.split("\0"), [word, "7"])

    def test_engine_command_hands_words_through(self):
        # What GNU parallel does with a command text: replace the placeholders by quoted values,
        # then hand the text to a shell.
        for word in WORDS:
            with self.subTest(word=word):
                text = jobs.engine_command(PRINT_ARGS + [word, "{1}", "{}"])
                self.assertIn(" {1} {}", text)
                text = text.replace("{1}", "3").replace("{}", "'x y'")
                out = subprocess.run(["bash", "-c", text], capture_output=True, text=True,
                                     check=True).stdout
                self.assertEqual(out.split("\0"), [word, "3", "x y"])


class DaemonTest(engines.EngineTest):
    def test_stop(self):
        cases = [
            # (what, program, exit status after stop)
            ("ends on SIGTERM", ["sleep", "60"], -signal.SIGTERM),
            ("ignores SIGTERM", [sys.executable, "-c",
                                 "import signal, time; signal.signal(signal.SIGTERM, "
                                 "signal.SIG_IGN); print('up', flush=True); time.sleep(60)"],
             -signal.SIGKILL),
            ("already gone", ["true"], 0),
        ]
        for what, argv, status in cases:
            with self.subTest(case=what):
                log = self.ws.path / f"{what}.log"
                d = engines.Daemon(what, argv, log)
                if what == "ignores SIGTERM":
                    engines.wait_until(lambda: "up" in log.read_text(), "the handler set", 30)
                if what == "already gone":
                    engines.wait_until(lambda: not d.alive(), "exited", 30)
                start = time.monotonic()
                self.assertEqual(d.stop(grace=0.5), status)
                self.assertLess(time.monotonic() - start, 30)
                self.assertFalse(d.alive())
                # A second stop signals nothing: the id may belong to someone else by now.
                self.assertEqual(d.stop(), status)

    def test_await_ready_reports_an_early_exit(self):
        d = engines.Daemon("early", ["sh", "-c", "echo cannot bind >&2; exit 3"],
                           self.ws.path / "early.log")
        with self.assertRaises(engines.Unavailable) as caught:
            d.await_ready(lambda: False, "ready", bound=30)
        self.assertIn("status 3", str(caught.exception))
        self.assertIn("cannot bind", str(caught.exception))

    def test_wait_until_is_bounded(self):
        start = time.monotonic()
        with self.assertRaises(TimeoutError) as caught:
            engines.wait_until(lambda: False, "never", bound=0.2, interval=0.01)
        self.assertIn("never", str(caught.exception))
        self.assertLess(time.monotonic() - start, 10)
        self.assertEqual(engines.wait_until(lambda: 42, "at once"), 42)

    def test_free_ports_distinct(self):
        ports = engines.free_ports(5)
        self.assertEqual(len(set(ports)), 5)
        self.assertTrue(all(1024 <= p < 65536 for p in ports))


class RunnerTest(engines.EngineTest):
    def test_bad_jobs_exit_2(self):
        folder = self.ws.folder("runner")
        jobs.make_clip(folder / "a.wav", 0.2)
        jobs.write_jobs(folder / "jobs.jsonl", [jobs.Job("a.wav", "out/a.mp3", 0.2)])
        (folder / "broken.jsonl").write_text("{not json\n")
        (folder / "nokeys.jsonl").write_text('{"input": "a.wav", "output": "out/a.mp3"}\n')
        cases = [
            # (what, job file, index, what it says)
            ("index past the end", "jobs.jsonl", "1", "no job 1"),
            ("negative index", "jobs.jsonl", "-1", "--index"),
            ("index not a number", "jobs.jsonl", "x", "--index"),
            ("no such file", "missing.jsonl", "0", "missing.jsonl"),
            ("line not JSON", "broken.jsonl", "0", "broken.jsonl:1"),
            ("line without a root", "nokeys.jsonl", "0", "nokeys.jsonl:1"),
        ]
        for what, name, index, says in cases:
            with self.subTest(case=what):
                proc = subprocess.run(jobs.job_argv(name, index), cwd=folder,
                                      capture_output=True, text=True)
                self.assertEqual(proc.returncode, 2, proc.stderr)
                self.assertIn(says, proc.stderr)
        self.assertFalse((folder / "out").exists())

    def test_missing_input_exits_3(self):
        # A missing input is never "nothing to do" (its mount may be missing); a job that is
        # done is done again at once.
        folder = self.ws.folder("runner3")
        jobs.make_clip(folder / "gone.wav", 0.2)
        jobs.make_clip(folder / "here.wav", 0.2)
        jobs.write_jobs(folder / "jobs.jsonl", [jobs.Job("gone.wav", "out/gone.mp3", 0.2),
                                                jobs.Job("here.wav", "out/here.mp3", 0.2)])
        (folder / "gone.wav").unlink()
        proc = subprocess.run(jobs.job_argv("jobs.jsonl", "0"), cwd=folder, capture_output=True,
                              text=True)
        self.assertEqual(proc.returncode, 3, proc.stderr)
        self.assertIn("the input is not there", proc.stderr)
        self.assertFalse((folder / "out" / "gone.mp3").exists())
        for outcome in ("converted", "skipped"):
            proc = subprocess.run(jobs.job_argv("jobs.jsonl", "1"), cwd=folder,
                                  capture_output=True, text=True)
            self.assertEqual(proc.returncode, 0, proc.stderr)
            self.assertEqual([e["outcome"] for e in jobs.events(proc.stdout, "finished")],
                             [outcome])


if __name__ == "__main__":
    sys.exit(engines.run_tests())
