#!/bin/sh
# Builds the skin generator, draws both skins into the source tree and checks
# them; also draws the application icons installed into the icon theme
# (dist/icons). Run from anywhere; needs Qt 6 (Core, Gui, and Svg from
# qt6-svg-dev for the scalable icons), the DejaVu and Noto CJK fonts.
#   tools/skingen/make-skins.sh              generate and verify
#   tools/skingen/make-skins.sh verify       only check the committed pictures
#   tools/skingen/make-skins.sh sheet OUT    also write a contact sheet to OUT
#   tools/skingen/make-skins.sh mock PREFIX  also write PREFIX-zelmora.png and
#                                            PREFIX-video.png (controls laid over)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${SKINGEN_BUILD_DIR:-${TMPDIR:-/tmp}/skingen-build}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 >/dev/null

zdir="$root/zelmora/skin/art"
vdir="$root/video/ui/skin"
if [ "${1:-}" != verify ]; then
    "$build/skingen" generate "$zdir" "$vdir"
    "$build/skingen" appicons "$root/dist/icons"
fi
"$build/skingen" verify "$zdir" "$vdir"
case "${1:-}" in
    sheet|mock)
        [ -n "${2:-}" ] || { echo "make-skins.sh: $1 needs an output name" >&2; exit 2; }
        "$build/skingen" "$1" "$zdir" "$vdir" "$2" ;;
esac
