# PAVO_REPRODUCIBLE: the same sources give the same bytes whatever folder they are built in
# and whenever. The compiler writes the source and build folders into debug information and
# __FILE__; both are mapped to relative names (the build folder's map is given last, so it
# wins for the build folder inside the source folder). The MinGW linker writes the link
# time into pavo.exe's header unless told not to; the field then stays 0, which Windows
# only uses to check bound imports, and MinGW binds none.
# Turn it off for a debugger that should find the sources by their absolute paths.
option(PAVO_REPRODUCIBLE "Map build paths out of the binaries and leave out link time stamps" ON)
if(PAVO_REPRODUCIBLE AND NOT MSVC)
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                      -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
  if(MINGW)
    add_link_options(-Wl,--no-insert-timestamp)
  endif()
endif()

# SOURCE_DATE_EPOCH: the time stamp of everything a package holds (file times, archive and
# installer dates), so that a package says when its sources were last changed, not when it
# was built. Taken from the environment when set; else the last commit's time in a git
# checkout; else the newest file time among the sources, which in a tree unpacked from
# `git archive` is the commit's time too. Written to SOURCE_DATE_EPOCH in the build folder,
# and only when it changed, so that the packages depending on it are made again then.
set(PAVO_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(PAVO_SOURCE_DATE_EPOCH STREQUAL "")
  find_package(Git QUIET)
  if(Git_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE PAVO_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE failed ERROR_QUIET)
    if(failed)
      set(PAVO_SOURCE_DATE_EPOCH "")
    endif()
  endif()
endif()
if(PAVO_SOURCE_DATE_EPOCH STREQUAL "")
  file(GLOB_RECURSE sources LIST_DIRECTORIES false ${PROJECT_SOURCE_DIR}/*)
  # Build and package folders inside the source tree are no sources.
  string(REGEX REPLACE "([][+.*()^$?|\\])" "\\\\\\1" root "${PROJECT_SOURCE_DIR}")
  list(FILTER sources EXCLUDE REGEX "^${root}/(build[^/]*|dist|out|\\.[^/]*)/")
  set(PAVO_SOURCE_DATE_EPOCH 0)
  foreach(source ${sources})
    file(TIMESTAMP ${source} time "%s" UTC)
    if(time GREATER PAVO_SOURCE_DATE_EPOCH)
      set(PAVO_SOURCE_DATE_EPOCH ${time})
    endif()
  endforeach()
endif()
if(NOT PAVO_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970, not '${PAVO_SOURCE_DATE_EPOCH}'")
endif()
set(PAVO_SOURCE_DATE_EPOCH_FILE ${PROJECT_BINARY_DIR}/SOURCE_DATE_EPOCH)
file(CONFIGURE OUTPUT ${PAVO_SOURCE_DATE_EPOCH_FILE} CONTENT "${PAVO_SOURCE_DATE_EPOCH}\n")
