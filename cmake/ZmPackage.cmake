# The Debian package zelmora-suite (scripts/package.sh runs `cpack -G DEB` in a Release tree).
# dpkg-shlibdeps finds the libraries the programs link; the packages below are what they load
# or start at run time, which no library link shows.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "${ZM_PACKAGE_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The Zelmora project")
set(ZM_PACKAGE_MAINTAINER "The Zelmora project <video@zelmora.net>" CACHE STRING
  "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${ZM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio extractor and video converter for the desktop")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Zelmora extracts the sound of video files into MP3, WMA, OGG, WAV, FLAC, AC3,"
  "AAC, AMR, M4A or Opus files. Vidrune, a dialog in Simplified Chinese, converts"
  "videos to 3GP, 3G2, MP4, AVI or FLV. Both run their own converters, conv and"
  "vv, built on FFmpeg's libraries.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "video")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ZM_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# (dpkg-shlibdeps adds the browser engine's helper process, libqt6webenginecore6-bin, from
# the engine library's symbols file.)
# - qt6-translations-l10n: Qt's own texts (standard dialogs and buttons) in the user's language
# - a font with Chinese letters for Vidrune's texts
# - gstreamer1.0-plugins-base: Qt Multimedia plays the finish sound through GStreamer
# - xdg-utils: output folders, help and web pages open through xdg-open
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-translations-l10n, fonts-noto-cjk | fonts-wqy-microhei | fonts-wqy-zenhei, gstreamer1.0-plugins-base, xdg-utils")
# Sound through PulseAudio or PipeWire, and Wayland sessions without XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-good | gstreamer1.0-pipewire, qt6-wayland")
include(CPack)
