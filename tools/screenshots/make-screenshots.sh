#!/bin/sh
# Regenerates every picture of the README into docs/screenshots/, under a virtual X display of
# fixed size and depth so that the pictures come out the same on every machine. Needs xvfb-run
# and the build's dependencies; builds into BUILD_DIR (default: build/ of the source tree) and
# writes into OUT_DIR (default: docs/screenshots/). zelmora's pictures are made at scale 1 and 2
# (NAME@2x.png).
#   tools/screenshots/make-screenshots.sh
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${OUT_DIR:-$root/docs/screenshots}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
fi
cmake --build "$build" -j2 --target zelmora_screenshots video_screenshots >/dev/null

mkdir -p "$out"
# The video window's page band needs this to show its page when run as root (as run.sh does).
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
# One screen at 96 dpi and scale 1; the platform's own fonts and settings stay out of it.
shoot() {
    env -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_FONT_DPI QT_QPA_PLATFORM=xcb \
        QT_LOGGING_RULES="qt.webenginecontext.info=false" \
        xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$@"
}
shoot "$build/tools/screenshots/zelmora_screenshots" "$out"
# zelmora's skin at 200 % (its @2x bitmaps), saved as NAME@2x.png beside the others.
shoot env QT_SCALE_FACTOR=2 "$build/tools/screenshots/zelmora_screenshots" "$out"
shoot "$build/tools/screenshots/video_screenshots" "$out"
