#!/usr/bin/env python3
"""Album tags after conversion: how long `zelmora-cli albums` takes to give a 12-track album
(3-minute MP3s, converted by `zelmora-cli run --replaygain album`) its album tags, against the
parts it is made of.

Rows, each the median of --rounds (the measurements are put back before every round):
- `zelmora-cli albums jobs.jsonl`: the whole step (grouping, 12 rewrites on as many converters at
  once as there are cores, journal records, measurements removed). Target: under 1 s.
- `conv -retag` of the 12 files one after the other, with and without the read-back check
  (--no-verify), and `conv --help` 12 times (what starting the converter costs).

Usage: album_bench.py [--cli PATH] [--rounds N]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time


def timed(args_list, env):
    start = time.monotonic()
    for args in args_list:
        subprocess.run(args, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=env)
    return time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--cli", default=os.path.join(here, "..", "..", "build", "apps", "zelmora",
                                                      "zelmora-cli"))
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    cli = os.path.abspath(args.cli)
    conv = os.path.join(os.path.dirname(cli), "data", "conv")
    with tempfile.TemporaryDirectory() as folder:
        env = dict(os.environ, XDG_STATE_HOME=os.path.join(folder, "state"))
        music = os.path.join(folder, "music")
        os.makedirs(music)
        first = os.path.join(music, "01.flac")
        subprocess.run(["ffmpeg", "-v", "error", "-y",
                        "-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.2:duration=180",
                        "-ac", "2", "-ar", "44100", "-metadata", "album=Bench", first], check=True)
        for i in range(2, 13):
            shutil.copy(first, os.path.join(music, f"{i:02}.flac"))
        out = os.path.join(folder, "out")
        jobs = os.path.join(folder, "jobs.jsonl")
        with open(jobs, "w") as f:
            subprocess.run([cli, "plan", "--replaygain", "album", "-f", "mp3", "-o", out,
                            "--root", folder, music], check=True, stdout=f, env=env)
        subprocess.run([cli, "run", jobs], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=env)
        journals = os.path.join(folder, "state", "zelmora", "journals")
        kept = [os.path.join(journals, d) for d in os.listdir(journals) if d.endswith(".loudness")]
        assert len(kept) == 1 and len(os.listdir(kept[0])) == 12, "12 measurements after run"
        backup = os.path.join(folder, "measurements")
        shutil.copytree(kept[0], backup)
        tracks = sorted(os.path.join(out, n) for n in os.listdir(out) if n.endswith(".mp3"))
        album = [a for m in sorted(os.listdir(backup)) for a in ("-album-from", os.path.join(backup, m))]
        rows = {"albums": [], "retag": [], "retag_no_verify": [], "start": []}
        for _ in range(args.rounds):
            shutil.rmtree(kept[0])
            shutil.copytree(backup, kept[0])
            rows["albums"].append(timed([[cli, "albums", jobs]], env))
            rows["retag"].append(timed([[conv, "-retag", t] + album for t in tracks], env))
            rows["retag_no_verify"].append(
                timed([[conv, "-retag", t, "--no-verify"] + album for t in tracks], env))
            rows["start"].append(timed([[conv, "--help"]] * 12, env))
        load = os.getloadavg()[0]
    print(f"album tags, 12 tracks of 3 min (MP3), {os.cpu_count()} cores, load average {load:.1f}, "
          f"median of {args.rounds}")
    print("| step | seconds |")
    print("|---|---|")
    print(f"| `zelmora-cli albums jobs.jsonl` | {statistics.median(rows['albums']):.2f} |")
    print(f"| `conv -retag`, 12 one after the other | {statistics.median(rows['retag']):.2f} |")
    print(f"| `conv -retag --no-verify`, 12 one after the other | "
          f"{statistics.median(rows['retag_no_verify']):.2f} |")
    print(f"| `conv --help` 12 times (starting the converter) | {statistics.median(rows['start']):.2f} |")


if __name__ == "__main__":
    main()
