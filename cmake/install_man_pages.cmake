# Run by `cmake --install`: installs the manual pages configured at build time,
# compressed, with the examples' folder of the prefix they are installed into.
# Set by linux_install.cmake: rastrel_pages (the configured pages), rastrel_docdir,
# rastrel_mandir, rastrel_gzip. A relocatable archive (RASTREL_RELOCATABLE_PAGES in the
# environment) cannot know its prefix and says so.
if(DEFINED ENV{RASTREL_RELOCATABLE_PAGES})
  set(examples ".IR \\%PREFIX /${rastrel_docdir}/examples\n(with\n.I PREFIX\nthe folder that holds\n.BR bin/rastrel1 )")
else()
  if(IS_ABSOLUTE "${rastrel_docdir}")
    set(folder "${rastrel_docdir}/examples")
  else()
    set(folder "${CMAKE_INSTALL_PREFIX}/${rastrel_docdir}/examples")
  endif()
  cmake_path(ABSOLUTE_PATH folder NORMALIZE)
  # roff reads a backslash as an escape, a double quote as the end of an
  # argument, and wants a hyphen in a path as \-.
  string(REPLACE "\\" "\\e" folder "${folder}")
  string(REPLACE "\"" "\\(dq" folder "${folder}")
  string(REPLACE "-" "\\-" folder "${folder}")
  set(examples ".B ${folder}")
endif()
# Staged in a folder of their own, not in the build folder, where an install
# run as root would leave files that a later one as a user cannot replace.
set(staging "/tmp")
if(DEFINED ENV{TMPDIR})
  set(staging "$ENV{TMPDIR}")
endif()
string(RANDOM LENGTH 12 suffix)
set(staging "${staging}/rastrel-pages-${suffix}")
foreach(page ${rastrel_pages})
  get_filename_component(name "${page}" NAME)
  file(READ "${page}" text)
  string(REPLACE "@RASTREL_EXAMPLES@" "${examples}" text "${text}")
  file(WRITE "${staging}/${name}" "${text}")
  execute_process(COMMAND "${rastrel_gzip}" -9n "${staging}/${name}" COMMAND_ERROR_IS_FATAL ANY)
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${rastrel_mandir}/man1" TYPE FILE FILES "${staging}/${name}.gz")
endforeach()
file(REMOVE_RECURSE "${staging}")
