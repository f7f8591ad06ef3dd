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

# Each component has its own include root, and the compiler searches them all: a folder name
# used under two roots ("engine/" in one, "engine/" in another) would let one header stand in
# for the other. No folder directly under one root may share its name with one under another.
set(roots zelmora video converters batch tests)
set(seen "")
set(clashes "")
foreach(root IN LISTS roots)
  file(GLOB children LIST_DIRECTORIES true RELATIVE "${ROOT}/${root}" "${ROOT}/${root}/*")
  foreach(child IN LISTS children)
    if(NOT IS_DIRECTORY "${ROOT}/${root}/${child}")
      continue()
    endif()
    list(FIND seen "${child}" at)
    if(at GREATER -1)
      list(APPEND clashes "${root}/${child}")
    endif()
    list(APPEND seen "${child}")
  endforeach()
endforeach()
if(clashes)
  list(JOIN clashes ", " text)
  message(FATAL_ERROR "folder names used under more than one include root: ${text}")
endif()
