#!/usr/bin/env python3
"""What a second run over an unchanged library costs: zelmora-cli with --existing update.

A tree of N tiny inputs (0.2 s, 8 kHz mono WAV, 10 folders) is converted to MP3 once with
`zelmora-cli --mirror --json` (a fresh XDG_STATE_HOME, so the journal starts empty); then the same
command runs again over the unchanged tree, and once more after one input was touched. For each
run it prints the wall time and how many conversions started (the "started" events of --json)
and how many files were found up to date. Target: the second run starts no conversion and takes
seconds, not a conversion.

Usage: update_bench.py --cli build/apps/zelmora/zelmora-cli [--files 1000] [--jobs 2]
"""
import argparse
import json
import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path


def convert(cli, tree, out, jobs, env):
    start = time.monotonic()
    proc = subprocess.run(
        [str(cli), "--json", "--mirror", "-f", "mp3", "-j", str(jobs), "-o", str(out), str(tree)],
        stdin=subprocess.DEVNULL, capture_output=True, text=True, env=env)
    took = time.monotonic() - start
    events = [json.loads(line) for line in proc.stdout.splitlines() if line.startswith("{")]
    started = sum(1 for e in events if e.get("event") == "started")
    done = next((e for e in events if e.get("event") == "done"), {})
    if proc.returncode != 0:
        raise SystemExit(f"zelmora-cli ended with {proc.returncode}: {proc.stderr[-2000:]}")
    return took, started, done.get("up_to_date", 0), done.get("converted", 0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True, type=Path)
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()
    cli = args.cli.resolve()
    tmp = Path(tempfile.mkdtemp(prefix="zm-update-bench-"))
    try:
        env = dict(os.environ, XDG_STATE_HOME=str(tmp / "state"), XDG_CONFIG_HOME=str(tmp / "config"))
        seed = tmp / "seed.wav"
        subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=8000:duration=0.2",
                        "-ac", "1", "-y", str(seed)], check=True, stdin=subprocess.DEVNULL)
        tree = tmp / "Music"
        for i in range(args.files):
            folder = tree / f"Album {i % 10:02d}"
            folder.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(seed, folder / f"{i:04d} track.wav")
        out = tmp / "out"
        rows = [("first run (empty journal)",) + convert(cli, tree, out, args.jobs, env),
                ("second run, nothing changed",) + convert(cli, tree, out, args.jobs, env)]
        touched = tree / "Album 03" / "0003 track.wav"
        later = time.time() + 5
        os.utime(touched, (later, later))
        rows.append(("one input touched",) + convert(cli, tree, out, args.jobs, env))
        load = os.getloadavg()[0]
        print(f"zelmora-cli --existing update over {args.files} tiny files, {args.jobs} jobs, "
              f"load average {load:.1f}")
        print("| run | wall s | conversions started | up to date | converted |")
        print("|---|---|---|---|---|")
        for name, took, started, up_to_date, converted in rows:
            print(f"| {name} | {took:.2f} | {started} | {up_to_date} | {converted} |")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
