# Fails when a file of one component or of its tests includes a header by a relative path
# ("../x.h") or by its bare name ("x.h"): every include names the header from its include root,
# "engine/seams.h" in zelmora/, "common/errors.h" in converters/, "support/probe.h" in tests/.
# Generated moc files excepted.
#   cmake -DROOT=<source folder> -DCOMPONENT=<zelmora|converters|...> -P check_includes.cmake
file(GLOB_RECURSE sources "${ROOT}/${COMPONENT}/*.cpp" "${ROOT}/${COMPONENT}/*.h"
     "${ROOT}/tests/${COMPONENT}/*.cpp" "${ROOT}/tests/${COMPONENT}/*.h")
if(NOT sources)
  message(FATAL_ERROR "no sources found for '${COMPONENT}' under ${ROOT}")
endif()
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
  message(FATAL_ERROR "includes not named from their root:\n  ${text}")
endif()
