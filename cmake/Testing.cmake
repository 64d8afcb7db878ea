# tcc_gtest(target [LABELS label...] [PROPERTIES prop value...]): registers a
# GoogleTest binary with CTest. Natively every test case is its own CTest test;
# under Wine each process start costs seconds, so there the binary is one test.
function(tcc_gtest target)
  cmake_parse_arguments(arg "" "" "LABELS;PROPERTIES" ${ARGN})
  set(props ${arg_PROPERTIES})
  # The programs under test keep a run log in the user's state folder: tests
  # keep theirs in the build tree, never in the home of whoever runs them.
  if(NOT CMAKE_CROSSCOMPILING AND NOT "ENVIRONMENT" IN_LIST props)
    list(APPEND props ENVIRONMENT "XDG_STATE_HOME=${CMAKE_BINARY_DIR}/test-state")
  endif()
  if(arg_LABELS)
    list(APPEND props LABELS "${arg_LABELS}")
  endif()
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
    if(props)
      set_tests_properties(${target} PROPERTIES ${props})
    endif()
  elseif(props)
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
  else()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

# tcc_wine_test(name timeout command...): a test of the Windows build whose
# script starts wine itself (the prefix, the registry, a pty or a display)
# rather than running through CMAKE_CROSSCOMPILING_EMULATOR. The caller adds
# any further properties.
function(tcc_wine_test name timeout)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${timeout} LABELS wine)
endfunction()
