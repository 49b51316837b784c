# add_wine_gtest(<name> SOURCES ... [LIBS ...] [TIMEOUT s] [WINDOWS32_SUITES suite...])
# A GoogleTest program run under Wine against the virtual device.  Its main()
# installs the pipe-name shim first, so product DLLs it loads reach the pipes.
# Tests share one device, so they never run in parallel.
# Every test runs on a 64-bit Windows; the suites named in WINDOWS32_SUITES
# depend on the Windows they run on and also need a 32-bit Windows: they carry
# the label windows32, which the test preset of that Windows selects.
function(add_wine_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;WINDOWS32_SUITES" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE test_main test_support ${ARG_LIBS})
  set(discover DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
  set(properties RUN_SERIAL TRUE TIMEOUT ${ARG_TIMEOUT})
  if(NOT ARG_WINDOWS32_SUITES)
    gtest_discover_tests(${name} ${discover} PROPERTIES ${properties})
    return()
  endif()
  # A suite's tests, plain (Suite.Name) and parameterised (Prefix/Suite.Name/n).
  set(suites "")
  foreach(suite ${ARG_WINDOWS32_SUITES})
    list(APPEND suites "${suite}.*" "*/${suite}.*")
  endforeach()
  string(JOIN ":" suites ${suites})
  gtest_discover_tests(${name} ${discover} TEST_FILTER "${suites}"
    PROPERTIES ${properties} LABELS windows32)
  gtest_discover_tests(${name} ${discover} TEST_FILTER "-${suites}" PROPERTIES ${properties})
endfunction()

# add_sim_gtest(<name> SOURCES ... [LIBS ...] [TIMEOUT s])
# A GoogleTest program run in the test bed's prefix without the virtual device
# (sim-run), against the simulated devices of uXferSim.dll.  No shim: a plain
# main.  Tests point UXFERSIM_HOME at folders of their own, yet the programs
# they start share the machine's two cores with the other tests: one at a time.
function(add_sim_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE gtest_main ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR ${SIM_RUN})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES RUN_SERIAL TRUE TIMEOUT ${ARG_TIMEOUT} LABELS sim)
endfunction()
