# GoogleTest: the installed package when there is one (Debian's libgtest-dev),
# otherwise built from the sources Debian's googletest package ships.
# The Windows cross build always takes the sources.
include(GoogleTest)
if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest QUIET)
endif()
if(NOT TARGET GTest::gtest_main)
  set(PAVO_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
  if(NOT EXISTS "${PAVO_GTEST_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest not found: install libgtest-dev or googletest (scripts/setup does)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${PAVO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
  if(TARGET gmock)
    add_library(GTest::gmock ALIAS gmock)
  endif()
endif()

# Registers the GoogleTest cases of a test program as CTest tests named Suite.Case.
#   pavo_add_gtests(TARGET [DESKTOP] [PROPERTIES name value...])
# Natively the program lists its cases. In the cross build they are found in its sources,
# so that neither building nor listing needs Wine, and each runs under Wine (the emulator)
# in the prefix and on the X server of tests/win/; a case passes only when GoogleTest says
# it ran and passed (a program that cannot start may end with status 0 without a word).
# A case GoogleTest skipped is skipped in both builds, and in CI that fails the stage
# (scripts/lib/ctest.sh). DESKTOP: the cases put windows on the screen and
# compare what it shows, so they take the shared desktop one at a time.
function(pavo_add_gtests target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "DESKTOP" "" "PROPERTIES")
  if(NOT CMAKE_CROSSCOMPILING)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES ${arg_PROPERTIES})
    return()
  endif()
  gtest_add_tests(TARGET ${target} TEST_LIST cases)
  set_tests_properties(${cases} PROPERTIES FIXTURES_REQUIRED "wine_prefix;wine_display"
    PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 1 test\\."
    SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\] 1 test" ${arg_PROPERTIES})
  if(arg_DESKTOP)
    set_tests_properties(${cases} PROPERTIES RESOURCE_LOCK wine_desktop)
  endif()
endfunction()
