# Every test carries a label saying what kind it is, so that the suite runs in pieces
# (`ctest -L unit`): unit, end-to-end, fault, gui, packaging, bench; and windows besides, for every
# test of the Windows build.

# halvic_add_gtest(TARGET LABEL [ARGS...]): registers the GoogleTest program TARGET with ctest,
# labelled LABEL. Built for this system, each test case is a ctest test of its own. Cross-built for
# Windows, the program is one ctest test, run once under Wine (halvic_wine_test): starting Wine
# for every case would cost seconds each.
function(halvic_add_gtest target label)
  if(CMAKE_CROSSCOMPILING)
    # The programs under test are optimised as shipped; the tests around them need not be, and
    # build in half the time.
    target_compile_options(${target} PRIVATE -O1)
    halvic_wine_test(windows.${target} ${label} ${CMAKE_CROSSCOMPILING_EMULATOR}
                     $<TARGET_FILE:${target}> ${ARGN})
  else()
    include(GoogleTest)
    gtest_discover_tests(${target} EXTRA_ARGS ${ARGN} PROPERTIES LABELS ${label})
  endif()
endfunction()

# halvic_wine_test(NAME LABEL COMMAND...): a test of the Windows build, labelled windows and
# LABEL. COMMAND runs quietly under Wine, in a copy of the Wine prefix that the test
# windows.wine_prefix makes once per ctest run (wineboot takes longer than copying, and a prefix
# of its own per test would leave a gigabyte each behind). The copy goes when the test passes and
# stays, for a look, when it fails.
function(halvic_wine_test name label)
  add_test(NAME ${name}
           COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/wine_prefix.sh copy ${HALVIC_WINE_BASE}
                   ${CMAKE_BINARY_DIR}/wine/${name} ${ARGN})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml="
    FIXTURES_REQUIRED wine_prefix LABELS "windows;${label}" TIMEOUT 300)
endfunction()

# The Wine prefix the tests copy: made before the first test of a run that needs it, removed after
# the last.
if(BUILD_TESTING AND CMAKE_CROSSCOMPILING)
  set(HALVIC_WINE_BASE ${CMAKE_BINARY_DIR}/wine/base)
  set(script ${PROJECT_SOURCE_DIR}/tests/wine/wine_prefix.sh)
  add_test(NAME windows.wine_prefix COMMAND ${script} make ${HALVIC_WINE_BASE})
  add_test(NAME windows.wine_prefix_removed COMMAND ${script} remove ${HALVIC_WINE_BASE})
  set_tests_properties(windows.wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix
    ENVIRONMENT "WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=" LABELS windows TIMEOUT 300)
  set_tests_properties(windows.wine_prefix_removed PROPERTIES FIXTURES_CLEANUP wine_prefix
                       LABELS windows)
endif()
