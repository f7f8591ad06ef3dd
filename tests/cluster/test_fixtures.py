#!/usr/bin/env python3
"""The engine fixtures' own rules, without an engine: commands survive every layer of quoting,
a daemon is stopped even when it ignores SIGTERM and never signalled after its exit, waits are
bounded, the job runner refuses what is not a job.

    test_fixtures.py --conv CONV [unittest options]
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
        (folder / "jobs.jsonl").write_text('{"input": "a.wav", "output": "out/a.mp3"}\n')
        (folder / "broken.jsonl").write_text("{not json\n")
        (folder / "nokeys.jsonl").write_text('{"in": "a.wav"}\n')
        cases = [
            # (what, job list, index)
            ("index past the end", "jobs.jsonl", "1"),
            ("negative index", "jobs.jsonl", "-1"),
            ("index not a number", "jobs.jsonl", "x"),
            ("no such list", "missing.jsonl", "0"),
            ("line not JSON", "broken.jsonl", "0"),
            ("line without input", "nokeys.jsonl", "0"),
        ]
        for what, name, index in cases:
            with self.subTest(case=what):
                proc = subprocess.run(jobs.job_argv(name, index), cwd=folder,
                                      capture_output=True, text=True)
                self.assertEqual(proc.returncode, 2, proc.stderr)
                self.assertIn("run_job:", proc.stderr)
        self.assertFalse((folder / "out").exists())

    def test_missing_input_is_conv_code_3(self):
        folder = self.ws.folder("runner3")
        (folder / "jobs.jsonl").write_text('{"input": "gone.wav", "output": "out/a.mp3"}\n')
        proc = subprocess.run(jobs.job_argv("jobs.jsonl", "0"), cwd=folder, capture_output=True,
                              text=True)
        self.assertEqual(proc.returncode, 3, proc.stderr)
        self.assertEqual(list((folder / "out").iterdir()), [])


if __name__ == "__main__":
    sys.exit(engines.run_tests())
