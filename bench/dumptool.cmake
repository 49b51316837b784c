# Vantor's own benchmark, in each tree: the peak memory of one Read flow, run
# without the dialog on the dump tool's flows.
# Run under the test bed: <build>/wine-run <build>/bin/dumptool_bench_peak.exe [MiB]
add_executable(dumptool_bench_peak ${CMAKE_CURRENT_LIST_DIR}/dumptool_peak.cpp)
target_link_libraries(dumptool_bench_peak PRIVATE dumptool_core vdev_client vdev_shim_static psapi)
