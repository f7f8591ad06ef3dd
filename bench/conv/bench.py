#!/usr/bin/env python3
"""Times conv against the ffmpeg CLI doing the same audio extraction.

For each of the eight output formats both programs convert the same input (default: a generated
60 s 1280x720 H.264 video with stereo 44100 Hz AAC), alternating, several runs each. Prints the
median wall time of each, the ratio conv/ffmpeg (target <= 1.0) and the peak resident memory of
each (target: conv no higher). The ffmpeg CLI here has no AMR-NB encoder, so AMR is reported as
conv's speed in multiples of real time. The formats are encoded, never copied: conv copies only
when the input already has the format's codec, and every job here asks for something else.

The copy part takes the same input's AAC into .aac four ways, alternating: conv copying the
packets (zelmora's AAC line, nothing asked), conv encoding again (forced by -ab 96k, which differs
from the input's 128k), the ffmpeg CLI encoding (-c:a aac -b:a 96k) and the CLI copying
(-c:a copy). Target: conv's copy at least 20x faster than conv's encode.

The long part (--only long) converts a long sound (default: a generated 600 s of stereo 44100 Hz
music-like sound, a tone over pink noise, in WAV so that reading costs little) into every format
conv encodes in segments, three ways alternating: conv with -threads 1, conv with automatic
threads (-threads 0: every core it may run on) and the ffmpeg CLI. Prints wall and CPU time, the
ratios to the CLI and the speed-up of automatic over one thread (per core: speed-up / threads).
Target on idle cores: automatic at most 0.6x the CLI's wall time for MP3, AAC, Opus and OGG,
with CPU time within 10% of one thread's.

The verify part (--only verify) converts a generated 180 s sound (as the long part's) into every
format twice, alternating: as usual, where the output is read back and decoded before it gets
its name, and with --no-verify. The difference is what the check costs. Target: under 5% of the
conversion for audio.

Usage: bench.py [--conv PATH] [--runs N] [--input FILE] [--markdown]
                [--only formats|copy|long|verify] [--long-seconds S] [--formats mp3,opus]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# format, conv's options (as zelmora sends them), ffmpeg CLI options for the same job
JOBS = [
    ("mp3", ["-ab", "192k", "-ar", "44100", "-ac", "2"],
     ["-c:a", "libmp3lame", "-b:a", "192k", "-ar", "44100", "-ac", "2"]),
    ("wma", ["-acodec", "wmav1"], ["-c:a", "wmav1"]),
    ("ogg", ["-ac", "2"], ["-c:a", "libvorbis", "-ac", "2"]),
    ("wav", ["-acodec", "pcm_s16le"], ["-c:a", "pcm_s16le"]),
    ("flac", [], ["-c:a", "flac"]),
    ("ac3", [], ["-c:a", "ac3"]),
    # The input's sound is AAC already: without -ab conv would copy it, so both encode at 96k.
    ("aac", ["-ab", "96k"], ["-c:a", "aac", "-b:a", "96k"]),
    ("amr", ["-ar", "8000", "-ab", "7.4k", "-ac", "1"], None),
]


# The formats conv encodes in segments: format, options for conv, options for the ffmpeg CLI.
# Bit rates are given to both so that both encode the same.
LONG_JOBS = [
    ("mp3", ["-ab", "192k"], ["-c:a", "libmp3lame", "-b:a", "192k"]),
    ("aac", ["-ab", "128k"], ["-c:a", "aac", "-b:a", "128k"]),
    ("m4a", ["-ab", "192k"], ["-c:a", "aac", "-b:a", "192k", "-f", "ipod"]),
    ("opus", ["-ab", "128k"], ["-c:a", "libopus", "-b:a", "128k", "-ar", "48000"]),
    ("ogg", ["-ab", "160k"], ["-c:a", "libvorbis", "-b:a", "160k"]),
    ("flac", [], ["-c:a", "flac"]),
    ("wma", ["-ab", "128k"], ["-c:a", "wmav1", "-b:a", "128k"]),
    ("ac3", ["-ab", "192k"], ["-c:a", "ac3", "-b:a", "192k"]),
]


def run_measured(args):
    """Runs args (an argument list, no shell); returns (wall s, peak RSS KiB, CPU s)."""
    start = time.monotonic()
    proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.monotonic() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {' '.join(args)}\n{err}")
    return elapsed, usage.ru_maxrss, usage.ru_utime + usage.ru_stime


def make_input(folder):
    path = os.path.join(folder, "bench input.mp4")
    subprocess.run(["ffmpeg", "-v", "error", "-y",
                    "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=60",
                    "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=60",
                    "-ac", "2", "-c:v", "libx264", "-preset", "ultrafast", "-g", "50",
                    "-c:a", "aac", "-b:a", "128k", path], check=True)
    return path


def make_long_input(folder, seconds):
    path = os.path.join(folder, "long input.wav")
    subprocess.run(["ffmpeg", "-v", "error", "-y",
                    "-f", "lavfi", "-i", f"anoisesrc=color=pink:amplitude=0.2:seed=7:d={seconds}",
                    "-f", "lavfi", "-i", f"sine=frequency=330:beep_factor=3:d={seconds}",
                    "-filter_complex", "[0][1]amix=inputs=2,aformat=channel_layouts=stereo",
                    "-ar", "44100", "-c:a", "pcm_s16le", path], check=True)
    return path


def bench_long(conv, src, tmp, runs):
    """Every split format three ways, alternating: conv on one thread, conv automatic, the CLI."""
    rows = []
    for ext, conv_opts, cli_opts in LONG_JOBS:
        ways = [
            ("one", [conv, "-i", src, "-y", "-threads", "1", *conv_opts,
                     os.path.join(tmp, "one." + ext)]),
            ("auto", [conv, "-i", src, "-y", "-threads", "0", *conv_opts,
                      os.path.join(tmp, "auto." + ext)]),
            ("cli", ["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", src, *cli_opts,
                     os.path.join(tmp, "cli." + ext)]),
        ]
        wall = {name: [] for name, _ in ways}
        cpu = {name: [] for name, _ in ways}
        for r in range(runs):  # alternate, and turn the order round, so drift hits all alike
            for name, cmd in (ways if r % 2 == 0 else list(reversed(ways))):
                t, _, c = run_measured(cmd)
                wall[name].append(t)
                cpu[name].append(c)
        med = {k: statistics.median(v) for k, v in wall.items()}
        mcpu = {k: statistics.median(v) for k, v in cpu.items()}
        rows.append((ext.upper(), med, mcpu))
        print(f"  {ext}: done", file=sys.stderr)
    return rows


VERIFY_JOBS = [(ext, opts) for ext, opts, _ in LONG_JOBS] + [("wav", []), ("amr", ["-ar", "8000"])]


def bench_verify(conv, src, tmp, runs):
    """Every format with the check and without (--no-verify), alternating."""
    rows = []
    for ext, conv_opts in VERIFY_JOBS:
        out = os.path.join(tmp, "verify." + ext)
        ways = [("checked", [conv, "-i", src, "-y", *conv_opts, out]),
                ("unchecked", [conv, "-i", src, "-y", "--no-verify", *conv_opts, out])]
        wall = {name: [] for name, _ in ways}
        cpu = {name: [] for name, _ in ways}
        for r in range(runs):
            for name, cmd in (ways if r % 2 == 0 else list(reversed(ways))):
                t, _, c = run_measured(cmd)
                wall[name].append(t)
                cpu[name].append(c)
        rows.append((ext.upper(), {k: statistics.median(v) for k, v in wall.items()},
                     {k: statistics.median(v) for k, v in cpu.items()}))
        print(f"  {ext}: done", file=sys.stderr)
    return rows


def print_verify(rows, length, runs):
    print(f"Input: {length:.0f} s stereo 44100 Hz WAV (tone over pink noise); median of {runs} "
          "alternating runs; CPU = user + system time.\n")
    print("| format | unchecked wall s | checked wall s | wall cost | unchecked CPU s "
          "| checked CPU s | CPU cost |")
    print("|---|---|---|---|---|---|---|")
    for fmt, w, c in rows:
        print(f"| {fmt} | {w['unchecked']:.2f} | {w['checked']:.2f} "
              f"| {100 * (w['checked'] / w['unchecked'] - 1):+.1f}% | {c['unchecked']:.2f} "
              f"| {c['checked']:.2f} | {100 * (c['checked'] / c['unchecked'] - 1):+.1f}% |")


def print_long(rows, length, runs, threads):
    print(f"Input: {length:.0f} s stereo 44100 Hz WAV (tone over pink noise); median of {runs} "
          f"alternating runs; automatic = {threads} threads; CPU = user + system time.\n")
    print("| format | CLI wall s | 1 thread wall s | auto wall s | auto / CLI wall | "
          "1 thread / CLI wall | auto CPU / 1 thread CPU | speed-up | per core |")
    print("|---|---|---|---|---|---|---|---|---|")
    for fmt, w, c in rows:
        speed = w["one"] / w["auto"]
        print(f"| {fmt} | {w['cli']:.2f} | {w['one']:.2f} | {w['auto']:.2f} "
              f"| {w['auto'] / w['cli']:.2f} | {w['one'] / w['cli']:.2f} "
              f"| {c['auto'] / c['one']:.2f} | {speed:.2f}x | {speed / threads:.2f} |")


def bench_copy(conv, src, tmp, runs):
    """AAC into .aac: conv copying, conv and the CLI encoding, the CLI copying."""
    out = os.path.join(tmp, "copy.aac")
    cli = ["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", src, "-vn"]
    ways = [
        ("conv, copy", [conv, "-i", src, "-y", "-vn", out]),
        ("conv, encoded again (-ab 96k)", [conv, "-i", src, "-y", "-vn", "-ab", "96k", out]),
        ("ffmpeg CLI, encoded (-c:a aac -b:a 96k)", cli + ["-c:a", "aac", "-b:a", "96k", out]),
        ("ffmpeg CLI, copy (-c:a copy)", cli + ["-c:a", "copy", out]),
    ]
    times = {name: [] for name, _ in ways}
    cpu = {name: [] for name, _ in ways}
    for _ in range(runs):  # alternate, so drift hits all alike
        for name, cmd in ways:
            t, _, c = run_measured(cmd)
            times[name].append(t)
            cpu[name].append(c)
    print("  copy: done", file=sys.stderr)
    return [(name, statistics.median(times[name]), statistics.median(cpu[name])) for name, _ in ways]


def print_copy(rows, length, opts):
    encode = rows[1][1]
    if opts.markdown:
        print(f"AAC of the {length:.0f} s 720p H.264 + AAC input into .aac; median of {opts.runs} "
              "alternating runs.\n")
        print("| way | wall s | CPU s | conv's encode time / this |")
        print("|---|---|---|---|")
        for name, wall, c in rows:
            print(f"| {name} | {wall:.3f} | {c:.3f} | {encode / wall:.1f}x |")
        print()
    else:
        for name, wall, c in rows:
            print(f"{name:42} {wall:7.3f}s  cpu {c:7.3f}s  {encode / wall:6.1f}x")
    copy = rows[0][1]
    print(f"copy is {encode / copy:.1f}x faster than conv's encode (target >= 20x)", file=sys.stderr)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default_conv = os.path.join(here, "..", "..", "build", "apps", "zelmora", "data", "conv")
    ap = argparse.ArgumentParser()
    ap.add_argument("--conv", default=default_conv)
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--input")
    ap.add_argument("--markdown", action="store_true")
    ap.add_argument("--only", choices=["formats", "copy", "long", "verify"])
    ap.add_argument("--long-seconds", type=int, default=600)
    ap.add_argument("--formats", help="comma-separated formats of the long part (default: all)")
    opts = ap.parse_args()
    if opts.formats:
        wanted = opts.formats.split(",")
        unknown = [f for f in wanted if f not in [job[0] for job in LONG_JOBS]]
        if unknown:
            sys.exit(f"not a format of the long part: {', '.join(unknown)}")
        LONG_JOBS[:] = [job for job in LONG_JOBS if job[0] in wanted]
    conv = os.path.abspath(opts.conv)
    if not os.access(conv, os.X_OK):
        sys.exit(f"conv not found at {conv} (build first or pass --conv)")
    if not shutil.which("ffmpeg"):
        sys.exit("the ffmpeg CLI is needed for the comparison")

    if opts.only == "verify":
        with tempfile.TemporaryDirectory() as tmp:
            src = opts.input or make_long_input(tmp, 180)
            probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                                    "format=duration", "-of", "csv=p=0", src],
                                   capture_output=True, text=True, check=True)
            rows = bench_verify(conv, src, tmp, opts.runs)
            print_verify(rows, float(probe.stdout.strip()), opts.runs)
        return

    if opts.only == "long":
        with tempfile.TemporaryDirectory() as tmp:
            src = opts.input or make_long_input(tmp, opts.long_seconds)
            probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                                    "format=duration", "-of", "csv=p=0", src],
                                   capture_output=True, text=True, check=True)
            rows = bench_long(conv, src, tmp, opts.runs)
            print_long(rows, float(probe.stdout.strip()), opts.runs,
                       len(os.sched_getaffinity(0)))
        return

    with tempfile.TemporaryDirectory() as tmp:
        src = opts.input or make_input(tmp)
        probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration",
                                "-of", "csv=p=0", src], capture_output=True, text=True, check=True)
        length = float(probe.stdout.strip())
        if opts.only != "formats":
            copy_rows = bench_copy(conv, src, tmp, opts.runs)
        rows = []
        for ext, conv_opts, cli_opts in ([] if opts.only == "copy" else JOBS):
            out_conv = os.path.join(tmp, "conv." + ext)
            out_cli = os.path.join(tmp, "cli." + ext)
            conv_cmd = [conv, "-i", src, "-y", "-vn", *conv_opts, out_conv]
            cli_cmd = (["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", src, "-vn", *cli_opts,
                        out_cli] if cli_opts else None)
            times_c, mem_c, cpu_c, times_f, mem_f, cpu_f = [], [], [], [], [], []
            for _ in range(opts.runs):  # alternate, so drift hits both alike
                t, m, c = run_measured(conv_cmd)
                times_c.append(t)
                mem_c.append(m)
                cpu_c.append(c)
                if cli_cmd:
                    t, m, c = run_measured(cli_cmd)
                    times_f.append(t)
                    mem_f.append(m)
                    cpu_f.append(c)
            mc = statistics.median(times_c)
            row = {"fmt": ext.upper(), "conv_s": mc, "conv_mb": max(mem_c) / 1024}
            if cli_cmd:
                mf = statistics.median(times_f)
                row.update(cli_s=mf, ratio=mc / mf, cli_mb=max(mem_f) / 1024,
                           cpu_ratio=statistics.median(cpu_c) / statistics.median(cpu_f))
            else:
                row.update(realtime=length / mc)
            rows.append(row)
            print(f"  {ext}: done", file=sys.stderr)

    if opts.only != "formats":
        print_copy(copy_rows, length, opts)
    if opts.only == "copy":
        return
    if opts.markdown:
        print(f"Input: {length:.0f} s, 1280x720 H.264 + stereo AAC 44100 Hz; median of {opts.runs} "
              "alternating runs; peak RSS is the largest of the runs; CPU = user + system time.\n")
        print("| format | conv s | ffmpeg s | wall ratio conv/ffmpeg | CPU ratio | conv peak MiB "
              "| ffmpeg peak MiB |")
        print("|---|---|---|---|---|---|---|")
        for r in rows:
            if "ratio" in r:
                print(f"| {r['fmt']} | {r['conv_s']:.3f} | {r['cli_s']:.3f} | {r['ratio']:.2f} "
                      f"| {r['cpu_ratio']:.2f} | {r['conv_mb']:.1f} | {r['cli_mb']:.1f} |")
            else:
                print(f"| {r['fmt']} | {r['conv_s']:.3f} | (no encoder) | {r['realtime']:.0f}x "
                      f"real time | - | {r['conv_mb']:.1f} | - |")
    else:
        for r in rows:
            if "ratio" in r:
                print(f"{r['fmt']:5} conv {r['conv_s']:7.3f}s  ffmpeg {r['cli_s']:7.3f}s  "
                      f"ratio {r['ratio']:5.2f}  cpu ratio {r['cpu_ratio']:5.2f}  mem {r['conv_mb']:6.1f} / {r['cli_mb']:6.1f} MiB")
            else:
                print(f"{r['fmt']:5} conv {r['conv_s']:7.3f}s  {r['realtime']:6.0f}x real time  "
                      f"mem {r['conv_mb']:6.1f} MiB")


if __name__ == "__main__":
    main()
