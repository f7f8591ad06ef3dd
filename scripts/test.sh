#!/usr/bin/env bash
# Builds everything and runs every test. Usage: scripts/test.sh [--sanitize]
#   --sanitize  build in build-asan/ with AddressSanitizer and UBSan and run the tests there,
#               all but those labelled e2e (the conversions of real media with conv and vv,
#               zelmora-cli and the windows with the real converters) and engines (Slurm, sshd,
#               GNU parallel and FUSE): under the sanitizers those would take CI past its time,
#               and the converters' code they run is run by the unit tests too
# ZM_WARNINGS_AS_ERRORS=ON in the environment makes every compiler warning an error.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  flags+=(-DZM_SANITIZE=ON -DZM_BUILD_BENCH=OFF) # the benchmarks are not run here
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1
fi

# Warnings are errors in the plain build only: the sanitizers' instrumentation makes GCC warn
# about code it cannot see through (the same sources are warning-free without it).
werror=${ZM_WARNINGS_AS_ERRORS:-OFF}
[ "$build" = build-asan ] && werror=OFF
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
  -DZM_WARNINGS_AS_ERRORS="$werror" "${flags[@]}"
cmake --build "$build" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
cd "$build"
exclude=()
if [ "$build" = build-asan ]; then
  exclude=(-LE '^(e2e|engines)$')
fi
ctest --output-on-failure -j "$(nproc)" --timeout 600 "${exclude[@]}"
