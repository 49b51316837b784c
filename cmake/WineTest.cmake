# add_wine_gtest(<name> SOURCES ... [LIBS ...] [TIMEOUT s])
# A GoogleTest program run under Wine against the virtual device.  Its main()
# installs the pipe-name shim first, so product DLLs it loads reach the pipes.
# Tests share one device, so they never run in parallel.
function(add_wine_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE test_main vdev_client ${ARG_LIBS})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES RUN_SERIAL TRUE TIMEOUT ${ARG_TIMEOUT})
endfunction()
