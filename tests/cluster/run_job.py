#!/usr/bin/env python3
"""Runs job INDEX of a job list with conv, from the folder the list's paths are relative to.

    run_job.py --conv CONV JOBS INDEX

JOBS has one JSON object a line, {"input": PATH, "output": PATH}. The output's folder is made,
one line "run_job: INDEX in FOLDER" goes to stdout (so a test can tell where the job ran), then
conv replaces this process: the exit code is conv's (0 done, 3 input missing, 5 failed, 6
stopped...). A bad command line or an index outside the list exits 2.
"""

import argparse
import json
import os
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--conv", required=True)
    parser.add_argument("jobs")
    parser.add_argument("index")
    args = parser.parse_args()
    try:
        index = int(args.index)
        with open(args.jobs, encoding="utf-8") as f:
            lines = [line for line in f if line.strip()]
        if not 0 <= index < len(lines):
            raise ValueError(f"no job {index}: the list has {len(lines)}")
        job = json.loads(lines[index])
        src, out = job["input"], job["output"]
    except (OSError, ValueError, KeyError) as e:
        print(f"run_job: {e}", file=sys.stderr)
        return 2
    folder = os.path.dirname(out)
    if folder:
        os.makedirs(folder, exist_ok=True)
    print(f"run_job: {index} in {os.getcwd()}", flush=True)
    os.execv(args.conv, [args.conv, "-i", src, "-y", "-vn", out])


if __name__ == "__main__":
    sys.exit(main())
