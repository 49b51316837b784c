# uxfer.exe: read, verified write and compare against the bare program's same
# requests, with uxfer's peak memory.  Run under the test bed:
#   <build>/wine-run <build>/bin/uxfer_bench.exe [--rounds N] [--ops read,write,compare] [64M 1G ...]
#   <build>/wine-run <build>/bin/x64/uxfer_bench.exe ... 4G
add_executable(uxfer_bench ${CMAKE_CURRENT_LIST_DIR}/cli_bench.cpp)
target_link_libraries(uxfer_bench PRIVATE uxfer bench_timed_run vdev_shim_static)
add_dependencies(uxfer_bench uxfer_exe uxfer_bench_bare vdevshim)
