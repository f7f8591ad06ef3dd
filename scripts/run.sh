#!/usr/bin/env bash
# Builds the suite and starts a program: scripts/run.sh [zelmora|video]   (default: zelmora)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j "$(nproc)"
prog="${1:-zelmora}"
case "$prog" in
  zelmora) exec build/apps/zelmora/zelmora ;;
  video)   exec build/apps/video/video ;;
  *) echo "usage: scripts/run.sh [zelmora|video]" >&2; exit 2 ;;
esac
