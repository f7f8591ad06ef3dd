#!/bin/sh
# Builds the skin generator, draws both skins into the source tree and checks
# them. Run from anywhere; needs Qt 6 (Core, Gui), the DejaVu and Noto CJK fonts.
#   tools/skingen/make-skins.sh            generate and verify
#   tools/skingen/make-skins.sh sheet OUT  also write a contact sheet to OUT
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${SKINGEN_BUILD_DIR:-${TMPDIR:-/tmp}/skingen-build}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 >/dev/null

zdir="$root/zelmora/shell/skin"
vdir="$root/video/ui/skin"
"$build/skingen" generate "$zdir" "$vdir"
"$build/skingen" verify "$zdir" "$vdir"
if [ "${1:-}" = sheet ] && [ -n "${2:-}" ]; then
    "$build/skingen" sheet "$zdir" "$vdir" "$2"
fi
