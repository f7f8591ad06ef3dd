# Fails when a file of zelmora or of its tests includes a header by a relative path ("../x.h")
# or by its bare name ("x.h"): every include names the header from the folder's include root,
# "engine/seams.h" in zelmora/ and "zelmora/testutil.h" in tests/. Generated moc files excepted.
#   cmake -DROOT=<source folder> -P check_includes.cmake
file(GLOB_RECURSE sources "${ROOT}/zelmora/*.cpp" "${ROOT}/zelmora/*.h"
     "${ROOT}/tests/zelmora/*.cpp" "${ROOT}/tests/zelmora/*.h")
set(bad "")
foreach(source IN LISTS sources)
  file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" header "${line}")
    if(header MATCHES "\\.moc$")
      continue()
    endif()
    if(header MATCHES "(^|/)\\.\\./" OR NOT header MATCHES "/")
      file(RELATIVE_PATH rel "${ROOT}" "${source}")
      list(APPEND bad "${rel}: ${header}")
    endif()
  endforeach()
endforeach()
if(bad)
  list(JOIN bad "\n  " text)
  message(FATAL_ERROR "includes not named from the include root:\n  ${text}")
endif()
