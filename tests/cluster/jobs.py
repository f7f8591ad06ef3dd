"""Job files, the one command that runs job N of a file, and the media the jobs convert.

A job file is what `zelmora-cli plan` writes: one JSON object a line, with paths relative to the
root it was planned from, so that the same file works wherever the library is mounted
(`--root-map OLD=NEW`). Every engine test runs a job through job_argv() and nothing else:
`zelmora-cli run --json [EXTRA...] --index INDEX JOBS`.
"""

import json
import re
import shlex
import shutil
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).resolve().parent

# Names a library really has: spaces, quotes, shell characters, non-ASCII. Every engine must hand
# them through its own layers of quoting untouched.
AWKWARD_NAMES = [
    "01 plain",
    "02 with  two spaces",
    "03 it's a \"quote\"",
    "04 $HOME;`id`&|*?",
    "05 Ünïcödé — 日本",
    "06 -starts-like-an-option",
]


@dataclass
class Tools:
    conv: Path = None
    cli: Path = None  # zelmora-cli, with the same conv in data/ beside it


TOOLS = Tools()


def job_argv(jobs, index, *extra):
    """The command that runs job `index` (a number, or a placeholder such as "{1}" that the engine
    fills in) of the job file `jobs`; extra options (such as --root-map) go before the index."""
    return [str(TOOLS.cli), "run", "--json", *map(str, extra), "--index", str(index), str(jobs)]


def events(text, name=None):
    """The JSON events zelmora-cli printed (those named `name`, or all)."""
    found = []
    for line in text.splitlines():
        line = line.strip()
        if not line.startswith("{"):
            continue
        try:
            event = json.loads(line)
        except ValueError:
            continue
        if name is None or event.get("event") == name:
            found.append(event)
    return found


@dataclass
class Job:
    input: str  # relative to the library root
    output: str
    seconds: float  # the input's length


def plan(root, inputs, fmt, output_folder, *options):
    """The lines `zelmora-cli plan` writes for inputs (relative to root) converted to fmt into
    output_folder (relative to root), planned from root."""
    proc = subprocess.run([str(TOOLS.cli), "plan", "--root", str(root), "--no-cut", "-f", fmt,
                           "-o", str(Path(root) / output_folder), *options, "--", *inputs],
                          cwd=root, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    if proc.returncode != 0:
        raise AssertionError(f"zelmora-cli plan failed ({proc.returncode}): {proc.stderr}")
    return proc.stdout.splitlines()


def write_jobs(path, jobs):
    """Plans jobs (paths relative to the job file's folder) with zelmora-cli into the job file
    path: one plan for each run of jobs with the same output folder and format. Each planned
    output must be the job's."""
    root = Path(path).parent
    lines = []
    groups = []
    for job in jobs:
        key = (str(Path(job.output).parent), Path(job.output).suffix[1:])
        if groups and groups[-1][0] == key:
            groups[-1][1].append(job)
        else:
            groups.append((key, [job]))
    for (folder, fmt), group in groups:
        planned = plan(root, [j.input for j in group], fmt, folder)
        for job, line in zip(group, planned, strict=True):
            entry = json.loads(line)
            output = str(Path(entry["output_root"]) / entry["output"])
            if output != job.output:
                raise AssertionError(f"planned {output}, not {job.output}")
            lines.append(line)
    Path(path).write_text("".join(line + "\n" for line in lines), encoding="utf-8")
    return path


_clips = {}  # (length, rate, frequency, suffix, codec options) -> a clip in CLIPS
CLIPS = None  # a folder for the clips made in this run, which tests never touch


def make_clip(path, seconds, rate=22050, frequency=440, codec_args=()):
    """A sine clip made by the ffmpeg CLI (once per kind in a run; copied after that); the format
    follows the file name."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    key = (seconds, rate, frequency, path.suffix, tuple(codec_args))
    made = _clips.get(key)
    if made and made.exists():
        shutil.copyfile(made, path)
        return path
    made = Path(CLIPS) / f"{len(_clips)}{path.suffix}" if CLIPS else path
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    f"sine=frequency={frequency}:sample_rate={rate}:duration={seconds}",
                    "-ac", "1", *codec_args, str(made)], check=True)
    if CLIPS:
        _clips[key] = made
        shutil.copyfile(made, path)
    return path


def make_library(root, names=AWKWARD_NAMES, ext="mp3", first_seconds=1.0, step=0.25):
    """One short WAV clip per name under root/in, each of its own length, so an output can be told
    apart from another's; returns the jobs converting them into root/out."""
    jobs = []
    for i, name in enumerate(names):
        seconds = first_seconds + step * i
        src = f"in/{name}.wav"
        make_clip(Path(root) / src, seconds, frequency=300 + 50 * i)
        jobs.append(Job(src, f"out/{name}.{ext}", seconds))
    return jobs


def probe(path):
    """(format name, codec of the first audio stream, duration in seconds) by ffprobe."""
    proc = subprocess.run(["ffprobe", "-v", "error", "-of", "json", "-show_entries",
                           "format=format_name,duration:stream=codec_type,codec_name", str(path)],
                          capture_output=True, text=True)
    if proc.returncode != 0:
        raise AssertionError(f"ffprobe cannot read {path}: {proc.stderr.strip()}")
    info = json.loads(proc.stdout)
    codecs = [s["codec_name"] for s in info.get("streams", []) if s.get("codec_type") == "audio"]
    fmt = info.get("format", {})
    return fmt.get("format_name"), codecs[0] if codecs else None, float(fmt.get("duration", 0))


EXPECTED = {"mp3": ("mp3", "mp3"), "opus": ("ogg", "opus"), "ogg": ("ogg", "vorbis"),
            "flac": ("flac", "flac"), "wav": ("wav", "pcm_s16le")}


def check_output(test, path, seconds, tolerance=0.1):
    """Asserts that path is a complete output of the expected format and length."""
    path = Path(path)
    test.assertTrue(path.is_file(), f"no output {path}")
    fmt, codec, duration = probe(path)
    ext = path.suffix[1:]
    test.assertEqual((fmt, codec), EXPECTED[ext], f"{path}")
    test.assertAlmostEqual(duration, seconds, delta=tolerance, msg=f"{path}: length")


def hidden_debris(folder):
    """The hidden temporary files left anywhere under folder."""
    return sorted(str(p) for p in Path(folder).rglob(".*") if ".partial-" in p.name)


def files_under(folder):
    """Every file (not folder) under folder, relative to it."""
    return sorted(str(p.relative_to(folder)) for p in Path(folder).rglob("*") if not p.is_dir())


def engine_command(argv):
    """argv as one command text for an engine that hands its command to a shell (GNU parallel):
    every word quoted, except replacement strings such as {}, {1} or {#}, which the engine fills
    in and quotes itself."""
    return " ".join(a if re.fullmatch(r"\{[0-9#%]*\}", a) else shlex.quote(a)
                    for a in map(str, argv))


def joblog(path):
    """GNU parallel's job log: [{"seq": int, "exit": int, "signal": int, "command": str}]."""
    rows = []
    lines = Path(path).read_text(encoding="utf-8").splitlines() if Path(path).exists() else []
    for line in lines[1:]:
        f = line.split("\t")
        rows.append({"seq": int(f[0]), "host": f[1], "exit": int(f[6]), "signal": int(f[7]),
                     "command": f[8]})
    return rows
