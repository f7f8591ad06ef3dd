# Fails when a file of the converters or of their tests includes a header by a relative path
# ("../x.h") or by its bare name ("x.h"): every include names the header from its root,
# "common/errors.h" in converters/ and "converters/test_files.h" or "support/probe.h" in tests/.
#   cmake -DROOT=<source folder> -P check_includes.cmake
file(GLOB_RECURSE sources "${ROOT}/converters/*.cpp" "${ROOT}/converters/*.h"
     "${ROOT}/tests/converters/*.cpp" "${ROOT}/tests/converters/*.h")
set(bad "")
foreach(source IN LISTS sources)
  file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" header "${line}")
    if(header MATCHES "(^|/)\\.\\./" OR NOT header MATCHES "/")
      file(RELATIVE_PATH rel "${ROOT}" "${source}")
      list(APPEND bad "${rel}: ${header}")
    endif()
  endforeach()
endforeach()
if(bad)
  list(JOIN bad "\n  " text)
  message(FATAL_ERROR "includes not named from their root:\n  ${text}")
endif()
