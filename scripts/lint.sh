#!/usr/bin/env bash
# Static checks of the project's own code. Usage: scripts/lint.sh [BUILD_DIR]
#   clang-tidy, with the checks of .clang-tidy, over every .cpp of converters/, batch/, zelmora/, video/,
#   tests/, tools/ and bench/ that BUILD_DIR/compile_commands.json compiles (default build/, as
#   scripts/test.sh leaves it; moc and rcc output in the build folder is skipped). Any finding
#   fails the run.
#   ZM_CHECK_FORMAT=1 also checks that clang-format (.clang-format) would change no source file.
#   ZM_LINT_JOBS sets how many clang-tidy processes run at once (default: nproc).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
db=$build/compile_commands.json
[ -f "$db" ] || { echo "lint: $db is missing; build first (scripts/test.sh)" >&2; exit 2; }
dirs='converters|batch|zelmora|video|tests|tools|bench'
jobs=${ZM_LINT_JOBS:-$(nproc)}
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# The project's own translation units, each once, and a regex matching exactly those paths.
mapfile -t files < <(python3 - "$db" "$root" "$dirs" <<'PY'
import json, os, re, sys
db, root, dirs = sys.argv[1:]
own = re.compile(r'(%s)/.*\.cpp$' % dirs)
seen = set()
for entry in json.load(open(db)):
    path = os.path.normpath(os.path.join(entry['directory'], entry['file']))
    rel = os.path.relpath(path, root)
    if own.match(rel) and path not in seen:
        seen.add(path)
        print(path)
PY
)
[ ${#files[@]} -gt 0 ] || { echo "lint: $db lists none of the project's sources" >&2; exit 2; }

start=$SECONDS
status=0
if command -v run-clang-tidy >/dev/null; then
  regex=$(python3 -c 'import re, sys; print("^(%s)$" % "|".join(re.escape(f) for f in sys.argv[1:]))' "${files[@]}")
  run-clang-tidy -quiet -p "$build" -j "$jobs" "$regex" >"$log" 2>&1 || status=$?
else
  printf '%s\0' "${files[@]}" |
    xargs -0 -n 1 -P "$jobs" clang-tidy --quiet -p "$build" --warnings-as-errors='*' >"$log" 2>&1 || status=$?
fi
# run-clang-tidy colours its output and echoes each invocation; those and clang's counters are
# noise, the rest is findings.
sed -i 's/\x1b\[[0-9;]*m//g' "$log"
grep -v -E '^[^ ]*clang-tidy(-[0-9]+)? |^[0-9]+ (warning|error)s? (generated|treated)|^Suppressed [0-9]+ warnings' "$log" || true
# A finding in a header shows once for each file that includes it; count it once.
# (grep finds nothing in a clean run; that is no failure of the pipeline.)
findings=$({ grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error):' "$log" || true; } | sort -u | wc -l)
echo "lint: clang-tidy checked ${#files[@]} files in $((SECONDS - start)) s: $findings findings" >&2
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
  echo "lint: clang-tidy failed" >&2
  exit 1
fi

if [ "${ZM_CHECK_FORMAT:-0}" = 1 ]; then
  mapfile -t sources < <(git ls-files -- converters zelmora video tests tools bench | grep -E '\.(cpp|h)$')
  clang-format --dry-run --Werror "${sources[@]}"
  echo "lint: clang-format: ${#sources[@]} files formatted" >&2
fi
