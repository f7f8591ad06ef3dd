# The build tree is a portable install: each program with its companions under apps/, in the
# same relative places as under <prefix>/lib/zelmora-suite after `cmake --install`. What goes
# there is declared once, with these two functions; the install rules (ZmInstall.cmake) and the
# install check (tests/install) follow the same list, so nothing a program needs beside itself
# can be left out of the install, and nothing a program writes while it runs is taken for part
# of it.
#
#   zm_portable_program(<target> <folder>)
#       the program <target> is built into apps/<folder>
#   zm_portable_file(<source> <path> [FOR <target>...])
#       <source> is copied to apps/<path> (again whenever it changes); building one of the
#       <target>s brings it up to date too
#
# The entries are kept in the global properties ZM_PORTABLE_PROGRAMS ("<target>|<folder>") and
# ZM_PORTABLE_FILES ("<path>").
set(ZM_APPS_DIR "${CMAKE_BINARY_DIR}/apps")

function(zm_portable_program target folder)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${ZM_APPS_DIR}/${folder}")
  set_property(GLOBAL APPEND PROPERTY ZM_PORTABLE_PROGRAMS "${target}|${folder}")
endfunction()

function(zm_portable_file source path)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "FOR")
  set(out "${ZM_APPS_DIR}/${path}")
  get_filename_component(dir "${out}" DIRECTORY)
  add_custom_command(OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
    COMMAND ${CMAKE_COMMAND} -E copy "${source}" "${out}"
    DEPENDS "${source}"
    COMMENT "Placing apps/${path}"
    VERBATIM)
  string(MAKE_C_IDENTIFIER "zm_portable_${path}" name)
  add_custom_target(${name} ALL DEPENDS "${out}")
  foreach(target IN LISTS arg_FOR)
    add_dependencies(${target} ${name})
  endforeach()
  set_property(GLOBAL APPEND PROPERTY ZM_PORTABLE_FILES "${path}")
endfunction()
