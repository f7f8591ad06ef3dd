#!/usr/bin/env bash
# Builds the Debian package zelmora-suite_<version>_<arch>.deb from a Release build of its own
# (no tests, no benchmarks) and prints its absolute path. Usage: scripts/package.sh [BUILD_DIR]
#   BUILD_DIR  defaults to build-pkg/ (a relative folder is taken from the repository's root)
# ZM_WARNINGS_AS_ERRORS=ON in the environment makes every compiler warning an error.
# Install it with: apt install ./build-pkg/zelmora-suite_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
# Only the package's path goes to standard output; everything else to standard error.
exec 3>&1 1>&2
bash scripts/setup.sh

build=${1:-build-pkg}
flags=()
if command -v ccache >/dev/null; then
  flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBUILD_TESTING=OFF -DZM_BUILD_BENCH=OFF -DZM_WARNINGS_AS_ERRORS="${ZM_WARNINGS_AS_ERRORS:-OFF}" "${flags[@]}"
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/zelmora-suite_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/zelmora-suite_*.deb)
[ -f "${debs[0]}" ] || { echo "package.sh: no package was written" >&2; exit 1; }
# Absolute, so that it holds whatever folder the caller is in.
echo "$(cd "$(dirname "${debs[0]}")" && pwd -P)/$(basename "${debs[0]}")" >&3
