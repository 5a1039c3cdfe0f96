# The Windows build's tests, run under Wine on the build machine:
# - forkit_unit_tests.exe, with GoogleTest built here from its source;
# - the end-to-end tests: a native build of their runner runs forkit.exe,
#   and "play it.bat" under Wine's command interpreter with a stand-in game.
# Every Windows program runs through the script `wine` in the build folder,
# in a Wine prefix of the build folder that is made once, on the first build.

find_program(FORKIT_WINE NAMES wine64 wine PATHS /usr/lib/wine DOC "Wine's program loader")
find_program(FORKIT_WINESERVER NAMES wineserver PATHS /usr/lib/wine DOC "Wine's server")
if(NOT FORKIT_WINE OR NOT FORKIT_WINESERVER)
  message(FATAL_ERROR "The Windows build's tests run under Wine (Debian: wine64), which is not "
                      "installed; configure with -DFORKIT_TESTS=OFF to build forkit.exe alone.")
endif()

set(FORKIT_GTEST_SOURCE /usr/src/googletest
    CACHE PATH "GoogleTest's source (Debian: googletest), built for the Windows tests")
if(NOT EXISTS ${FORKIT_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "The Windows build's tests need GoogleTest's source (Debian: googletest) "
                      "at FORKIT_GTEST_SOURCE, now ${FORKIT_GTEST_SOURCE}.")
endif()
set(BUILD_GMOCK OFF)
set(INSTALL_GTEST OFF)
# GoogleTest is built with its own flags, without forkit's warnings and -Werror.
get_directory_property(forkit_compile_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${FORKIT_GTEST_SOURCE} ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${forkit_compile_options}")
# GoogleTest 1.12 and later name these themselves.
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

set(FORKIT_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(wine ${CMAKE_BINARY_DIR}/wine)
configure_file(wine.sh.in ${wine} @ONLY)
# The unit tests are started again where Wine failed to start them.
set(CMAKE_CROSSCOMPILING_EMULATOR env FORKIT_START_AGAIN=1 ${wine})

# Wine takes a while to make a prefix; later builds and test runs reuse it.
set(wine_ready ${FORKIT_WINE_PREFIX}/forkit-ready)
add_custom_command(OUTPUT ${wine_ready}
  COMMAND ${wine} wineboot --init
  COMMAND ${CMAKE_COMMAND} -E touch ${wine_ready}
  COMMENT "Making the Wine prefix for the tests"
  VERBATIM)
add_custom_target(forkit_wine_prefix ALL DEPENDS ${wine_ready})

# Starts the wineserver that every test then shares.
add_test(NAME wine_server COMMAND ${wine} cmd /c exit 0)
set_tests_properties(wine_server PROPERTIES FIXTURES_SETUP wine)
# One test maps a drive letter in the shared prefix, which every program
# running under it sees at that moment; so the tests run one at a time.
set(FORKIT_TEST_OPTIONS DISCOVERY_TIMEOUT 60 PROPERTIES FIXTURES_REQUIRED wine RUN_SERIAL TRUE)

add_executable(forkit_game_stand_in game_stand_in.cpp)
set_target_properties(forkit_game_stand_in PROPERTIES OUTPUT_NAME quake3)
# It takes its arguments as UTF-16, through wmain.
target_link_options(forkit_game_stand_in PRIVATE -municode)

# The end-to-end runner is a native program: it is built from this same
# source tree by the build machine's own compiler, and runs the Windows
# programs through the wine script.
include(ExternalProject)
set(native ${CMAKE_BINARY_DIR}/native)
set(runner ${native}/tests/forkit_run_tests)
ExternalProject_Add(forkit_native_runner
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${native}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DFORKIT_TESTS=ON -DFORKIT_WERROR=${FORKIT_WERROR}
  # Make's job server of the outer build does not reach this one.
  BUILD_COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS
                ${CMAKE_COMMAND} --build <BINARY_DIR> --target forkit_run_tests
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${runner}
  INSTALL_COMMAND "")
add_executable(forkit_native_run_tests IMPORTED)
set_target_properties(forkit_native_run_tests PROPERTIES
  IMPORTED_LOCATION ${runner}
  # Wine shows a symbolic link to Windows programs as the file it names. The
  # prefix is where a test maps a drive letter to a folder of its own.
  CROSSCOMPILING_EMULATOR "env;FORKIT_COMMAND='${wine}' '$<TARGET_FILE:forkit>'\
;FORKIT_BATCH_COMMAND='${wine}' cmd /c\
;FORKIT_GAME_STAND_IN=$<TARGET_FILE:forkit_game_stand_in>\
;FORKIT_LINKS_LOOK_LIKE_FILES=1\
;FORKIT_WINE_PREFIX=${FORKIT_WINE_PREFIX}")
gtest_discover_tests(forkit_native_run_tests DISCOVERY_MODE PRE_TEST ${FORKIT_TEST_OPTIONS})
