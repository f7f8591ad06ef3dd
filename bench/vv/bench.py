#!/usr/bin/env python3
"""Benchmark of vv against the ffmpeg CLI doing the same encode.

For the default preset of each output format (as the video dialog builds it at start), both
programs convert the same 720p H.264/AAC input, alternating, several rounds. Printed: the median
wall time of each, their ratio (vv / ffmpeg, target <= 1.0), the ratio of CPU time (user + system;
less sensitive to other load on the machine) and the peak resident memory of each (target: vv no
higher). The ffmpeg side uses the same codecs, size, rate, bit rates and the x264
settings of h264.dat. The CLI has no AMR-NB encoder: for 3gp it encodes AAC at 8000 Hz mono in
its place (marked in the table).

usage: bench.py [--vv PATH] [--rounds N] [--seconds S] [--work DIR]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def preset_args(dat):
    """h264.dat as ffmpeg CLI options (-profile:v baseline -preset veryfast ...)."""
    args = []
    with open(dat, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#") or "=" not in line:
                continue
            key, value = (p.strip() for p in line.split("=", 1))
            name = {"profile": "profile:v", "preset": "preset"}.get(key, key)
            args += ["-" + name, value]
    return args


def formats(h264_dat):
    x264 = ["-c:v", "libx264"] + preset_args(h264_dat)
    return [
        # name, ext, vv option texts, ffmpeg CLI options, note
        ("3gp", "3gp",
         ["-vcodec", "h263", "-b", "256k", "-s", "176x144", "-r", "14.985",
          "-acodec", "libopencore_amrnb", "-ar", "8000", "-ab", "12.2k", "-ac", "1"],
         ["-c:v", "h263", "-b:v", "256k", "-s", "176x144", "-r", "14.985",
          "-c:a", "aac", "-ar", "8000", "-b:a", "12.2k", "-ac", "1"],
         "CLI: AAC 8 kHz mono in place of AMR-NB"),
        ("3gpp2", "3g2",
         ["-fpre", h264_dat, "-vcodec", "libx264", "-b", "512k", "-s", "320x240", "-r", "14.985",
          "-strict", "experimental", "-acodec", "aac", "-ar", "44100", "-ab", "112k", "-ac", "2"],
         x264 + ["-b:v", "512k", "-s", "320x240", "-r", "14.985",
                 "-c:a", "aac", "-ar", "44100", "-b:a", "112k", "-ac", "2"], ""),
        ("mp4", "mp4",
         ["-vcodec", "mpeg4", "-b", "512k", "-s", "320x240", "-r", "23.976",
          "-strict", "experimental", "-acodec", "aac", "-ar", "44100", "-ab", "112k", "-ac", "2"],
         ["-c:v", "mpeg4", "-b:v", "512k", "-s", "320x240", "-r", "23.976",
          "-c:a", "aac", "-ar", "44100", "-b:a", "112k", "-ac", "2"], ""),
        ("avi", "avi",
         ["-vcodec", "mpeg4", "-b", "512k", "-s", "320x240", "-r", "23.976",
          "-acodec", "mp2", "-ar", "22050", "-ab", "128k", "-ac", "2"],
         ["-c:v", "mpeg4", "-b:v", "512k", "-s", "320x240", "-r", "23.976",
          "-c:a", "mp2", "-ar", "22050", "-b:a", "128k", "-ac", "2"], ""),
        ("flv", "flv",
         ["-vcodec", "flv", "-b", "256k", "-s", "320x240", "-r", "14.985",
          "-acodec", "libmp3lame", "-ar", "44100", "-ab", "128k", "-ac", "2"],
         ["-c:v", "flv", "-b:v", "256k", "-s", "320x240", "-r", "14.985",
          "-c:a", "libmp3lame", "-ar", "44100", "-b:a", "128k", "-ac", "2"], ""),
    ]


def measure(argv):
    """Runs argv; returns (wall s, CPU s, peak RSS MiB). Fails loudly on a non-zero exit."""
    start = time.monotonic()
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {' '.join(argv)}\n{err}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(os.path.dirname(here))
    ap = argparse.ArgumentParser()
    ap.add_argument("--vv", default=os.path.join(root, "build", "apps", "video", "vv"))
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--seconds", type=int, default=60)
    ap.add_argument("--work", default=None, help="folder for the input and outputs")
    ap.add_argument("--only", default=None, help="comma-separated formats (3gp,3gpp2,mp4,avi,flv)")
    a = ap.parse_args()

    vv = os.path.abspath(a.vv)
    h264_dat = os.path.join(os.path.dirname(vv), "h264.dat")
    if not os.access(vv, os.X_OK) or not os.path.isfile(h264_dat):
        sys.exit(f"build vv first: {vv} (with h264.dat beside it)")
    ffmpeg = shutil.which("ffmpeg")
    if not ffmpeg:
        sys.exit("the ffmpeg CLI is needed")

    work = a.work or tempfile.mkdtemp(prefix="vv-bench-")
    os.makedirs(work, exist_ok=True)
    src = os.path.join(work, f"input_720p_{a.seconds}s.mp4")
    if not os.path.exists(src):
        print(f"making {a.seconds} s of 720p H.264/AAC input ...", flush=True)
        subprocess.run([ffmpeg, "-v", "error", "-nostdin", "-y",
                        "-f", "lavfi", "-i", f"testsrc2=size=1280x720:rate=30000/1001:duration={a.seconds}",
                        "-f", "lavfi", "-i", f"sine=frequency=440:sample_rate=44100:duration={a.seconds}",
                        "-ac", "2", "-c:v", "libx264", "-preset", "veryfast", "-b:v", "3000k",
                        "-c:a", "aac", "-b:a", "128k", "-shortest", src], check=True)

    rows = []
    for name, ext, vv_opts, cli_opts, note in formats(h264_dat):
        if a.only and name not in a.only.split(","):
            continue
        out_vv = os.path.join(work, f"vv.{ext}")
        out_cli = os.path.join(work, f"cli.{ext}")
        vv_argv = [vv, "-i", src, "-y"] + vv_opts + [out_vv]
        cli_argv = [ffmpeg, "-nostdin", "-v", "error", "-i", src, "-y"] + cli_opts + [out_cli]
        tv, tc, cv, cc, mv, mc = [], [], [], [], [], []
        for r in range(a.rounds):
            # Alternate which one goes first so neither always gets the warm cache.
            order = [("vv", vv_argv), ("cli", cli_argv)]
            if r % 2:
                order.reverse()
            for who, argv in order:
                wall, cpu, rss = measure(argv)
                (tv if who == "vv" else tc).append(wall)
                (cv if who == "vv" else cc).append(cpu)
                (mv if who == "vv" else mc).append(rss)
        row = (name, statistics.median(tv), statistics.median(tc), statistics.median(cv),
               statistics.median(cc), max(mv), max(mc), note)
        rows.append(row)
        print(f"{name:6} vv {row[1]:6.2f} s  ffmpeg {row[2]:6.2f} s  ratio {row[1] / row[2]:.2f}"
              f"  CPU ratio {row[3] / row[4]:.2f}  peak MiB vv {row[5]:.0f} ffmpeg {row[6]:.0f}",
              flush=True)

    print()
    print(f"Input: {a.seconds} s of 1280x720 29.97 fps H.264 + stereo AAC 44100 Hz; "
          f"{a.rounds} alternating rounds, medians; {os.cpu_count()} CPU(s).")
    print()
    print("| format | vv wall (s) | ffmpeg wall (s) | wall ratio | CPU ratio | peak MiB vv | "
          "peak MiB ffmpeg | note |")
    print("|---|---|---|---|---|---|---|---|")
    for name, t_vv, t_cli, c_vv, c_cli, m_vv, m_cli, note in rows:
        print(f"| {name} | {t_vv:.2f} | {t_cli:.2f} | {t_vv / t_cli:.2f} | {c_vv / c_cli:.2f} "
              f"| {m_vv:.0f} | {m_cli:.0f} | {note} |")
    if not a.work:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
