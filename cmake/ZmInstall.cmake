# `cmake --install` lays the suite out the Linux way:
#   <prefix>/lib/zelmora-suite/   the programs with their companions, in the same relative places
#                                 as in the build tree (each program finds them beside itself)
#   <prefix>/bin/zelmora, zelmora-cli, vidrune launchers: relative symbolic links to the programs (Qt takes
#                                 the program's folder from /proc/self/exe, past the link)
#   <prefix>/share/applications, icons/hicolor, metainfo, man/man1
# Each part installs only when it is built.
include(GNUInstallDirs)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(ZM_INSTALL_APPDIR "lib/zelmora-suite" CACHE STRING
  "Folder of the programs and their companions, relative to the install prefix")
set(ZM_HOMEPAGE "https://zelmora.net")
# Raw files of the project's repository; the AppStream screenshots are the README's pictures
# under docs/screenshots/.
set(ZM_SOURCE_RAW_BASE "${ZM_HOMEPAGE}/source/raw/main" CACHE STRING
  "Web address of the repository's raw files")
set(ZM_SCREENSHOT_BASE "${ZM_SOURCE_RAW_BASE}/docs/screenshots")

set(ZM_DIST_DIR "${PROJECT_SOURCE_DIR}/dist")
set(ZM_DIST_BUILD_DIR "${CMAKE_BINARY_DIR}/dist")
set(ZM_ZELMORA_ID "net.zelmora.Zelmora")
set(ZM_VIDRUNE_ID "net.zelmora.Vidrune")
set(ZM_ICON_SIZES 16 24 32 48 64 128 256)

# A launcher in bin: a relative link to `program` (a path under the prefix), made in the build
# tree and installed as a link.
function(zm_install_launcher name program)
  file(RELATIVE_PATH target "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${program}")
  file(MAKE_DIRECTORY "${ZM_DIST_BUILD_DIR}/bin")
  file(CREATE_LINK "${target}" "${ZM_DIST_BUILD_DIR}/bin/${name}" SYMBOLIC)
  install(FILES "${ZM_DIST_BUILD_DIR}/bin/${name}" DESTINATION "${CMAKE_INSTALL_BINDIR}")
endfunction()

# The desktop entry, AppStream metainfo and theme icons of one program.
function(zm_install_desktop_files id)
  install(FILES "${ZM_DIST_DIR}/${id}.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
  configure_file("${ZM_DIST_DIR}/${id}.metainfo.xml.in" "${ZM_DIST_BUILD_DIR}/${id}.metainfo.xml" @ONLY)
  install(FILES "${ZM_DIST_BUILD_DIR}/${id}.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
  foreach(size IN LISTS ZM_ICON_SIZES)
    install(FILES "${ZM_DIST_DIR}/icons/hicolor/${size}x${size}/apps/${id}.png"
      DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
  endforeach()
  install(FILES "${ZM_DIST_DIR}/icons/hicolor/scalable/apps/${id}.svg"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
endfunction()

# Manual pages: all of them from dist/man/manpages.txt; the converters' exit codes come from
# converters/common/errors.h.
set(ZM_MAN_PAGES zelmora zelmora-cli vidrune conv vv)
set(zm_man_outputs "")
foreach(page IN LISTS ZM_MAN_PAGES)
  list(APPEND zm_man_outputs "${ZM_DIST_BUILD_DIR}/man/${page}.1.gz")
endforeach()
string(JOIN "," zm_man_expect ${ZM_MAN_PAGES})
add_custom_command(OUTPUT ${zm_man_outputs}
  COMMAND Python3::Interpreter "${ZM_DIST_DIR}/man/mkman.py"
    --source "${ZM_DIST_DIR}/man/manpages.txt"
    --errors "${PROJECT_SOURCE_DIR}/converters/common/errors.h"
    --appdir "${CMAKE_INSTALL_PREFIX}/${ZM_INSTALL_APPDIR}"
    --version "${PROJECT_VERSION}"
    --expect "${zm_man_expect}"
    --out "${ZM_DIST_BUILD_DIR}/man"
  DEPENDS "${ZM_DIST_DIR}/man/mkman.py" "${ZM_DIST_DIR}/man/manpages.txt"
    "${PROJECT_SOURCE_DIR}/converters/common/errors.h"
  COMMENT "Writing the manual pages"
  VERBATIM)
add_custom_target(zm_man_pages ALL DEPENDS ${zm_man_outputs})
function(zm_install_man_page page)
  install(FILES "${ZM_DIST_BUILD_DIR}/man/${page}.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
endfunction()

# The programs and their companions: exactly what the build tree's portable layout holds
# (ZmPortable.cmake), in the same places. portable-files.txt lists them, one path under apps/
# (and under the app folder of the install) per line, for the install check.
get_property(zm_portable_programs GLOBAL PROPERTY ZM_PORTABLE_PROGRAMS)
get_property(zm_portable_files GLOBAL PROPERTY ZM_PORTABLE_FILES)
set(zm_manifest "")
foreach(entry IN LISTS zm_portable_programs)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 target)
  list(GET entry 1 folder)
  install(TARGETS ${target} RUNTIME DESTINATION "${ZM_INSTALL_APPDIR}/${folder}")
  string(APPEND zm_manifest "${folder}/$<TARGET_FILE_NAME:${target}>\n")
endforeach()
foreach(path IN LISTS zm_portable_files)
  get_filename_component(folder "${path}" DIRECTORY)
  install(FILES "${ZM_APPS_DIR}/${path}" DESTINATION "${ZM_INSTALL_APPDIR}/${folder}")
  string(APPEND zm_manifest "${path}\n")
endforeach()
file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/portable-files.txt" CONTENT "${zm_manifest}")

set(zm_zelmora_dest "${ZM_INSTALL_APPDIR}/zelmora")
set(zm_video_dest "${ZM_INSTALL_APPDIR}/video")

if(TARGET zelmora)
  zm_install_launcher(zelmora "${zm_zelmora_dest}/zelmora")
  zm_install_desktop_files(${ZM_ZELMORA_ID})
  zm_install_man_page(zelmora)
endif()
if(TARGET zelmora-cli)
  zm_install_launcher(zelmora-cli "${zm_zelmora_dest}/zelmora-cli")
  zm_install_man_page(zelmora-cli)
  # Where Debian's bash-completion looks for a command's completion.
  install(FILES "${ZM_DIST_DIR}/completion/zelmora-cli" DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions")
endif()
if(TARGET conv)
  zm_install_man_page(conv)
endif()
if(TARGET video)
  zm_install_launcher(vidrune "${zm_video_dest}/video")
  zm_install_desktop_files(${ZM_VIDRUNE_ID})
  zm_install_man_page(vidrune)
endif()
if(TARGET vv)
  zm_install_man_page(vv)
endif()
