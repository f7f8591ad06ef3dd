#!/usr/bin/env python3
"""Times zelmora-cli's job files on three engines against running the converter directly.

200 generated short clips (0.5 s, 8 kHz mono WAV) are planned into MP3 (`zelmora-cli plan`), then
converted from scratch (fresh output folder and state folder each time) by:

  direct    conv itself with zelmora's MP3 arguments, two at a time (the conversions alone)
  ffmpeg    the ffmpeg CLI doing the same encode, two at a time (the reference)
  run -j2   zelmora-cli run --jobs 2 jobs.jsonl (one process for every job)
  parallel  GNU parallel -j2 over zelmora-cli run --index {} (one process per job)
  slurm     sbatch --array=0-199 of zelmora-cli run --index on the test cluster of
            tests/cluster (slurmctld, slurmd, munged on loopback; needs root and slurm-wlm);
            skipped with the reason when it cannot start

and the per-job overhead of --index: the jobs run one after another, `zelmora-cli run --index N`
against conv alone, (difference) / jobs. Target: under 50 ms.

Usage: bench.py --cli build/apps/zelmora/zelmora-cli [--files N] [--no-slurm]
"""
import argparse
import concurrent.futures
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent.parent / "tests" / "cluster"))


def run(argv, **kw):
    return subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True, **kw)


def timed(fn):
    start = time.monotonic()
    fn()
    return time.monotonic() - start


def two_at_a_time(commands):
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        for proc in pool.map(lambda argv: run(argv), commands):
            if proc.returncode != 0:
                raise SystemExit(f"failed: {proc.stderr}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True, type=Path)
    parser.add_argument("--files", type=int, default=200)
    parser.add_argument("--no-slurm", action="store_true")
    args = parser.parse_args()
    cli = args.cli.resolve()
    conv = cli.parent / "data" / "conv"
    tmp = Path(tempfile.mkdtemp(prefix="zm-jobs-bench-"))
    tmp.chmod(0o755)
    try:
        lib = tmp / "lib"
        (lib / "in").mkdir(parents=True)
        first = lib / "in" / "000.wav"
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                        "sine=frequency=440:sample_rate=8000:duration=0.5", "-ac", "1", str(first)],
                       check=True)
        for n in range(1, args.files):
            shutil.copyfile(first, lib / "in" / f"{n:03d}.wav")
        plan = run([str(cli), "plan", "--root", str(lib), "--no-cut", "-f", "mp3", "-b", "192",
                    "-r", "44100", "-c", "2", "-o", str(lib / "out"), str(lib / "in")], cwd=lib)
        if plan.returncode != 0:
            raise SystemExit(plan.stderr)
        (lib / "jobs.jsonl").write_text(plan.stdout)
        jobs = [json.loads(line) for line in plan.stdout.splitlines()]
        count = len(jobs)

        def fresh(name):
            for folder in ("out", "state"):
                shutil.rmtree(lib / folder, ignore_errors=True)
            (lib / "out").mkdir()
            env = dict(os.environ, XDG_STATE_HOME=str(lib / "state"))
            return env

        def conv_argv(job):
            return [str(conv), "-i", str(lib / job["input"]), "-y", "-vn", "-ab", "192k", "-ar",
                    "44100", "-ac", "2", "-map_meta_data",
                    f"{lib / job['input']}:{lib / 'out' / job['output']}",
                    str(lib / "out" / job["output"])]

        def ffmpeg_argv(job):
            return ["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", str(lib / job["input"]),
                    "-vn", "-c:a", "libmp3lame", "-b:a", "192k", "-ar", "44100", "-ac", "2",
                    str(lib / "out" / job["output"])]

        results = {}
        fresh("direct")
        results["direct (conv, 2 at a time)"] = timed(lambda: two_at_a_time(map(conv_argv, jobs)))
        fresh("ffmpeg")
        results["ffmpeg CLI, 2 at a time"] = timed(lambda: two_at_a_time(map(ffmpeg_argv, jobs)))
        env = fresh("run")

        def run_all():
            p = run([str(cli), "run", "--jobs", "2", "jobs.jsonl"], cwd=lib, env=env)
            if p.returncode != 0:
                raise SystemExit(p.stderr)
        results["zelmora-cli run --jobs 2"] = timed(run_all)
        parallel = shutil.which("parallel")
        if parallel:
            env = fresh("parallel")

            def run_parallel():
                p = run([parallel, "--will-cite", "-j2", f"{cli} run --index {{}} jobs.jsonl",
                         ":::", *map(str, range(count))], cwd=lib, env=env)
                if p.returncode != 0:
                    raise SystemExit(p.stderr)
            results["parallel -j2 over run --index"] = timed(run_parallel)
        else:
            print("parallel: not installed", file=sys.stderr)

        if not args.no_slurm:
            results.update(slurm(cli, lib, count, fresh))

        # Per-job overhead of --index, one job after another.
        sample = jobs[: min(count, 50)]
        fresh("overhead")
        t_conv = timed(lambda: [run(conv_argv(j)) for j in sample])
        env = fresh("overhead")
        t_index = timed(lambda: [run([str(cli), "run", "--index", str(j["index"]), "jobs.jsonl"],
                                     cwd=lib, env=env) for j in sample])
        overhead_ms = (t_index - t_conv) / len(sample) * 1000

        base = results["direct (conv, 2 at a time)"]
        print(f"{count} files of 0.5 s to MP3 on {os.cpu_count()} cores\n")
        print("| engine | wall | per job | vs conv directly |")
        print("|---|---|---|---|")
        for name, seconds in results.items():
            if seconds is None:
                continue
            print(f"| {name} | {seconds:.2f} s | {seconds / count * 1000:.0f} ms | {seconds / base:.2f}x |")
        print(f"\n--index overhead per job beyond the conversion: {overhead_ms:.1f} ms "
              f"(conv alone {t_conv / len(sample) * 1000:.1f} ms, run --index "
              f"{t_index / len(sample) * 1000:.1f} ms; target < 50 ms)")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def slurm(cli, lib, count, fresh):
    import engines
    engines._become_subreaper()
    ws = engines.Workspace("zm-jobs-bench-slurm-")
    cluster = engines.SlurmCluster(ws)
    try:
        try:
            cluster.start()
        except engines.Unavailable as e:
            print(f"slurm: skipped: {e}", file=sys.stderr)
            return {}
        env = fresh("slurm")
        os.environ["XDG_STATE_HOME"] = env["XDG_STATE_HOME"]
        script = engines.batch_script(lib / "job.sh", [cli, "run", "--index", "{index}",
                                                        lib / "jobs.jsonl"])
        (lib / "logs").mkdir(exist_ok=True)
        start = time.monotonic()
        job = cluster.sbatch(script, f"--array=0-{count - 1}", f"--chdir={lib}",
                             f"--output={lib}/logs/%A_%a.out")
        cluster.wait_gone(job, 1800)
        seconds = time.monotonic() - start
        done = cluster.finished(job)
        bad = {k: v for k, v in done.items() if v != ("COMPLETED", "0:0")}
        if bad or len(done) != count:
            print(f"slurm: {len(bad)} tasks did not complete: {list(bad.items())[:3]}",
                  file=sys.stderr)
        return {"slurm array (test cluster)": seconds}
    finally:
        cluster.stop()
        engines._reap_orphans()
        ws.remove()


if __name__ == "__main__":
    main()
