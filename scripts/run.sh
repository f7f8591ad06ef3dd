#!/usr/bin/env bash
# Builds the suite and starts a program: scripts/run.sh [zelmora|video]   (default: zelmora)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
prog="${1:-zelmora}"
case "$prog" in
  zelmora) targets=(zelmora conv) ;;
  video)   targets=(video vv) ;;
  *) echo "usage: scripts/run.sh [zelmora|video]" >&2; exit 2 ;;
esac
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target "${targets[@]}"
case "$prog" in
  zelmora) exec build/apps/zelmora/zelmora ;;
  video)
    # the page band's browser engine refuses to run as root without this
    if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
    exec build/apps/video/video ;;
esac
