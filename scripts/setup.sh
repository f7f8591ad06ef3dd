#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent: when everything is
# already there it only checks and returns; `apt-get update` runs only when something
# is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-webengine-dev libqt6opengl6-dev
  qt6-translations-l10n
  libgl-dev
  libavformat-dev libavcodec-dev libavfilter-dev libswresample-dev libswscale-dev libavutil-dev
  libopencore-amrnb-dev
  # libvorbis's block decisions: where conv starts the segments of a long Vorbis encode.
  libvorbis-dev
  libgtest-dev
  ffmpeg xvfb xauth x11-utils imagemagick python3 dbus-daemon
  # Loudness: libebur128 measures in conv; loudgain (a ReplayGain 2.0 scanner) and espeak-ng
  # (real speech) serve the tests.
  libebur128-dev loudgain espeak-ng
  fonts-noto-cjk fonts-dejavu-core
  desktop-file-utils appstream groff-base shared-mime-info dpkg-dev file bash-completion
  clang-tidy clang-format
  # The job engines the integration tests start themselves (tests/cluster): Slurm with munge,
  # an sshd for GNU parallel's remote workers (rsync carries its files), FUSE file systems
  # without O_TMPFILE.
  slurm-wlm munge openssh-server openssh-client parallel rsync bindfs fuse3 fuse2fs e2fsprogs
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
