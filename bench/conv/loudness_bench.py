#!/usr/bin/env python3
"""Cost of conv's loudness work.

1. Measuring while converting: for each format, conv converts the same 3-minute stereo 44100 Hz
   input (pink noise under a tone, as a WAV) without and with `-replaygain track` (which measures
   the sound as the output holds it: a lossy output decoded again as it is written), alternating,
   several runs each; prints the median wall and CPU times and the extra cost in percent.
   Target: under 5% of the conversion. A copy (FLAC into FLAC) is shown apart: copying does no
   sound work of its own, so the decode beside it is most of its time.
2. Album tags after conversion: `conv -retag` of 12 tracks (3-minute MP3s) with the album's 12
   measurement files: one process per file (one after the other, four at once), and as zelmora's
   album step runs it (one process for the album, or four of three files each at once).
   Target: under 1 s.

Usage: loudness_bench.py [--conv PATH] [--runs N] [--markdown]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

FORMATS = ["mp3", "ogg", "m4a", "opus", "wma", "flac", "wav"]


def run_measured(args):
    """Runs args (an argument list, no shell); returns (wall s, CPU s)."""
    start = time.monotonic()
    proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.monotonic() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(args)}\n{err}")
    return elapsed, usage.ru_utime + usage.ru_stime


def make_input(folder):
    path = os.path.join(folder, "input.wav")
    subprocess.run(["ffmpeg", "-v", "error", "-y",
                    "-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.2:duration=180",
                    "-f", "lavfi", "-i", "sine=frequency=440:duration=180",
                    "-filter_complex", "amix=inputs=2", "-ac", "2", "-ar", "44100",
                    "-c:a", "pcm_s16le", path], check=True)
    return path


def convert_cost(conv, source, folder, runs):
    rows = []
    jobs = [(ext, source, ext) for ext in FORMATS]
    flac = os.path.join(folder, "copy source.flac")
    subprocess.run([conv, "-i", source, "-y", flac], check=True, stdout=subprocess.DEVNULL)
    jobs.append(("flac (copy)", flac, "flac"))
    for name, src, ext in jobs:
        out = os.path.join(folder, "out." + ext)
        plain = [conv, "-i", src, "-y", out]
        measured = [conv, "-i", src, "-y", "-replaygain", "track", out]
        times = {"plain": [], "measured": []}
        for _ in range(runs):
            for key, args in (("plain", plain), ("measured", measured)):
                times[key].append(run_measured(args))
        wall = {k: statistics.median(t[0] for t in v) for k, v in times.items()}
        cpu = {k: statistics.median(t[1] for t in v) for k, v in times.items()}
        rows.append((name, wall["plain"], wall["measured"], cpu["plain"], cpu["measured"]))
    return rows


def album_cost(conv, source, folder):
    tracks, jsons = [], []
    first = os.path.join(folder, "track00.mp3")
    first_json = os.path.join(folder, "track00.json")
    subprocess.run([conv, "-i", source, "-y", "-replaygain", "track", "-loudness-out", first_json,
                    first], check=True, stdout=subprocess.DEVNULL)
    for i in range(12):
        track = os.path.join(folder, f"track{i:02}.mp3")
        json = os.path.join(folder, f"track{i:02}.json")
        if i:
            shutil.copy(first, track)
            shutil.copy(first_json, json)
        tracks.append(track)
        jsons.append(json)
    album = [a for j in jsons for a in ("-album-from", j)]
    results = []
    # One conv per file, or (as zelmora's album step runs it) the album in as many shares as
    # conversions may run at once, each share one conv rewriting its files one after the other.
    for label, at_once, per_process in (("one `conv -retag` per file, 1 at once", 1, 1),
                                        ("one `conv -retag` per file, 4 at once", 4, 1),
                                        ("one `conv` for all 12 files", 1, 12),
                                        ("4 `conv` of 3 files each at once", 4, 3)):
        start = time.monotonic()
        pending = [tracks[i:i + per_process] for i in range(0, len(tracks), per_process)]
        running = []
        while pending or running:
            while pending and len(running) < at_once:
                files = pending.pop(0)
                running.append(subprocess.Popen(
                    [conv] + [a for f in files for a in ("-retag", f)] + album,
                    stdout=subprocess.DEVNULL))
            if running[0].wait() != 0:
                sys.exit("conv -retag failed")
            running.pop(0)
        results.append((label, time.monotonic() - start))
    return results


def main():
    parser = argparse.ArgumentParser()
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--conv", default=os.path.join(here, "..", "..", "build", "apps",
                                                       "zelmora", "data", "conv"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--markdown", action="store_true")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        source = make_input(folder)
        rows = convert_cost(args.conv, source, folder, args.runs)
        album = album_cost(args.conv, source, folder)
    print("| format | conversion s | with -replaygain track s | extra wall | extra CPU |")
    print("|---|---|---|---|---|")
    for name, plain, measured, cpu_plain, cpu_measured in rows:
        print(f"| {name} | {plain:.2f} | {measured:.2f} | {100 * (measured / plain - 1):+.1f}% "
              f"| {100 * (cpu_measured / cpu_plain - 1):+.1f}% |")
    print()
    print("| album tags, 12 tracks of 3 min (MP3) | seconds |")
    print("|---|---|")
    for label, seconds in album:
        print(f"| {label} | {seconds:.2f} |")


if __name__ == "__main__":
    main()
