# uxfer.exe: a whole `uxfer read` against a process that makes the same device
# requests and nothing else (uxfer_bench_read), and its peak memory.
# Run under the test bed: <build>/wine-run <build>/bin/uxfer_bench.exe [MiB] [rounds]
add_executable(uxfer_bench ${CMAKE_CURRENT_LIST_DIR}/cli_bench.cpp)
target_link_libraries(uxfer_bench PRIVATE uxfer bench_timed_run vdev_shim_static)
add_executable(uxfer_bench_read ${CMAKE_CURRENT_LIST_DIR}/cli_bench_read.cpp)
target_link_libraries(uxfer_bench_read PRIVATE dump_core)
add_dependencies(uxfer_bench uxfer_exe uxfer_bench_read vdevshim)
