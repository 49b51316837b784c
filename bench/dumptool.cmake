# Dump tool: the 16-bit word conversion against memcpy, and the peak memory of
# a 64 MiB Read through the virtual device.
add_executable(dumptool_bench_wire ${CMAKE_CURRENT_LIST_DIR}/dumptool_wire.cpp)
target_link_libraries(dumptool_bench_wire PRIVATE dump_core)

add_executable(dumptool_bench_peak ${CMAKE_CURRENT_LIST_DIR}/dumptool_peak.cpp)
target_link_libraries(dumptool_bench_peak PRIVATE dumptool_core vdev_client vdev_shim_static psapi)
