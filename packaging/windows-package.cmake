# Makes a Windows package from pavo.exe, reader-sim.exe, README.txt and LICENSE.txt, the same
# bytes from the same inputs (cmake -P, called by the targets in packaging/CMakeLists.txt):
#   KIND=zip  OUTPUT=.../pavo-<version>-win32.zip   with zip
#   KIND=msi  OUTPUT=.../pavo-<version>-win32.msi   with wixl (WXS, ICON, UPGRADE_CODE, WIXL,
#                                                   MSIBUILD, FAKETIME)
# and VERSION, EXE (pavo.exe), SIM_EXE (reader-sim.exe), README, LICENSE,
# SOURCE_DATE_EPOCH_FILE. Every file time in a package is SOURCE_DATE_EPOCH, read in UTC.
cmake_minimum_required(VERSION 3.21)

foreach(var KIND OUTPUT VERSION EXE SIM_EXE README LICENSE SOURCE_DATE_EPOCH_FILE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "windows-package.cmake: ${var} is not set")
  endif()
endforeach()
file(STRINGS ${SOURCE_DATE_EPOCH_FILE} epoch LIMIT_COUNT 1)
set(ENV{TZ} UTC)
set(ENV{SOURCE_DATE_EPOCH} ${epoch})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed)
  if(failed)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "windows-package.cmake: '${command}' failed: ${failed}")
  endif()
endfunction()

# The files as they are packed: modes and times of their own, not of the build's umask and clock.
get_filename_component(name ${OUTPUT} NAME_WLE)
set(stage ${OUTPUT}.files)
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/${name})
set(members)
foreach(source ${EXE} ${SIM_EXE} ${LICENSE} ${README})
  get_filename_component(member ${source} NAME)
  file(COPY_FILE ${source} ${stage}/${name}/${member})
  list(APPEND members ${member})
endforeach()
list(SORT members)
file(CHMOD_RECURSE ${stage} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                           WORLD_READ WORLD_EXECUTE)
file(CHMOD ${stage}/${name}/pavo.exe ${stage}/${name}/reader-sim.exe
     PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                 WORLD_EXECUTE)
set(paths ${members})
list(TRANSFORM paths PREPEND ${stage}/${name}/)
run(touch -d @${epoch} ${stage}/${name} ${paths})
file(REMOVE ${OUTPUT})

if(KIND STREQUAL "zip")
  # Members in a fixed order under one folder; -X leaves out the owner's user and group ids
  # and the extra time fields, -D the folder's own entry, so that only the names, the modes,
  # the DOS times (UTC here) and the contents are left.
  list(TRANSFORM members PREPEND ${name}/)
  run(${ZIP} -q -X -D -9 ${OUTPUT} ${members} WORKING_DIRECTORY ${stage})
elseif(KIND STREQUAL "msi")
  foreach(var WXS ICON UPGRADE_CODE WIXL MSIBUILD FAKETIME)
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "windows-package.cmake: ${var} is not set")
    endif()
  endforeach()
  file(COPY_FILE ${ICON} ${stage}/${name}/pavo.ico)
  # Windows Installer compares major.minor.build.
  string(REGEX MATCH "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?" PAVO_MSI_VERSION "${VERSION}")
  set(PAVO_MSI_UPGRADE_CODE ${UPGRADE_CODE})
  # One product code per version. The package code must change with every package that
  # differs, so it is derived from the version and the packed files (wixl would draw one
  # at random).
  string(UUID PAVO_MSI_PRODUCT_CODE NAMESPACE ${UPGRADE_CODE} NAME "product ${PAVO_MSI_VERSION}"
         TYPE SHA1 UPPER)
  set(contents "package ${PAVO_MSI_VERSION}")
  foreach(file ${WXS} ${ICON} ${EXE} ${SIM_EXE} ${LICENSE} ${README})
    file(SHA256 ${file} hash)
    string(APPEND contents " ${hash}")
  endforeach()
  string(UUID package_code NAMESPACE ${UPGRADE_CODE} NAME "${contents}" TYPE SHA1 UPPER)
  configure_file(${WXS} ${stage}/${name}/pavo.wxs @ONLY)
  # wixl dates the package by the clock (the summary's "created" and "last saved"): the
  # clock stands still at SOURCE_DATE_EPOCH for it, and for msibuild, which sets the
  # package code in place of wixl's. (string(TIMESTAMP) gives SOURCE_DATE_EPOCH when set.)
  string(TIMESTAMP frozen "%Y-%m-%d %H:%M:%S" UTC)
  run(${FAKETIME} -f "${frozen}" ${WIXL} -a x86 -o ${OUTPUT}.new pavo.wxs
      WORKING_DIRECTORY ${stage}/${name})
  # Not through run(), whose argument list would split the template "Intel;1033" (a 32-bit
  # package in U.S. English) at its semicolon.
  execute_process(COMMAND ${FAKETIME} -f "${frozen}" ${MSIBUILD} ${OUTPUT}.new
                          -s "pavo ${PAVO_MSI_VERSION}" "the pavo developers" "Intel;1033"
                          "{${package_code}}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "windows-package.cmake: msibuild failed: ${failed}")
  endif()
  file(RENAME ${OUTPUT}.new ${OUTPUT})
else()
  message(FATAL_ERROR "windows-package.cmake: KIND must be zip or msi, not '${KIND}'")
endif()
file(REMOVE_RECURSE ${stage})
