#!/usr/bin/env bash
# Builds everything and runs every test. Usage: scripts/test.sh [--sanitize]
#   --sanitize  build in build-asan/ with AddressSanitizer and UBSan and run the tests there
# ZM_WARNINGS_AS_ERRORS=ON in the environment makes every compiler warning an error (CI).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  flags+=(-DZM_SANITIZE=ON)
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
  -DZM_WARNINGS_AS_ERRORS="${ZM_WARNINGS_AS_ERRORS:-OFF}" "${flags[@]}"
cmake --build "$build" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 600
