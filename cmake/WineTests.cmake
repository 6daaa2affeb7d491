# Test helpers. CTest runs Windows test executables through the toolchain's
# emulator (wine) in the Wine test bed (display, prefix, wineserver) that
# scripts/winebed.sh sets up around the whole CTest run; scenarios take beds
# of their own.

# GoogleTest built with the same cross toolchain from Debian's sources.
if(NOT TARGET gtest)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  target_compile_options(gtest PRIVATE -w)
  target_compile_options(gtest_main PRIVATE -w)
endif()

# add_wine_gtest(NAME SOURCES... [LIBS ...] [TIMEOUT s] [LOCK] [NO_MAIN])
# One GoogleTest executable per area, one CTest entry per executable. LOCK
# serialises tests that share window classes, named objects or folders of the
# Wine prefix.
function(add_wine_gtest name)
  cmake_parse_arguments(ARG "LOCK;NO_MAIN" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest)
  if(NOT ARG_NO_MAIN)
    target_link_libraries(${name} PRIVATE gtest_main)
  endif()
  add_dependencies(${name} uiskin)
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS unit)
  if(ARG_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wineprefix)
  endif()
endfunction()

# add_scenario_test(NAME SCRIPT [TIMEOUT s] [BIN dir] [CASES case...]): a
# Python scenario that drives the real executables from BIN (default bin/)
# under Wine, or some of its cases. Each runs in a Wine test bed of its own
# from a pool (scripts/winebed.sh --pool), so scenarios run side by side and
# need no lock; the gtests share the bed around the whole CTest run.
function(add_scenario_test name script)
  cmake_parse_arguments(ARG "" "TIMEOUT;BIN" "CASES" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  if(NOT ARG_BIN)
    set(ARG_BIN ${CMAKE_BINARY_DIR}/bin)
  endif()
  add_test(NAME ${name}
    COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/winebed.sh --pool ${CMAKE_BINARY_DIR}/winebeds
      python3 ${script} --bin ${ARG_BIN} ${ARG_CASES}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS scenario)
endfunction()
