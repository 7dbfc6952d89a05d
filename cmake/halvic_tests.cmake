# halvic_add_gtest(TARGET [ARGS...]): registers the GoogleTest program TARGET with ctest. Built
# for this system, each test case is a ctest test of its own. Cross-built for Windows, the
# program is one ctest test, run once under Wine (CMAKE_CROSSCOMPILING_EMULATOR) in a Wine prefix
# of its own under the build tree: starting Wine for every case would cost seconds each.
function(halvic_add_gtest target)
  if(CMAKE_CROSSCOMPILING)
    # The programs under test are optimised as shipped; the tests around them need not be, and
    # build in half the time.
    target_compile_options(${target} PRIVATE -O1)
    add_test(NAME windows.${target} COMMAND ${target} ${ARGN})
    halvic_wine_environment(windows.${target})
  else()
    include(GoogleTest)
    gtest_discover_tests(${target} EXTRA_ARGS ${ARGN})
  endif()
endfunction()

# halvic_wine_environment(TEST): TEST runs under Wine quietly, in a Wine prefix of its own.
function(halvic_wine_environment test)
  # Wine creates the prefix, but not the folders above it.
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/wine)
  set_tests_properties(${test} PROPERTIES
    ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wine/${test};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml="
    TIMEOUT 300)
endfunction()
