# uXferAuto.dll: a ReadToFile from VBScript against `uxfer read` of the same
# range, and the peak memory of both processes.
# Run under the test bed: <build>/wine-run <build>/bin/auto_bench.exe [MiB] [rounds]
add_executable(auto_bench ${CMAKE_CURRENT_LIST_DIR}/auto_bench.cpp)
target_link_libraries(auto_bench PRIVATE uxfer bench_timed_run vdev_shim_static)
add_dependencies(auto_bench uxfer_auto uxfer_exe vdevshim)
configure_file(${CMAKE_CURRENT_LIST_DIR}/auto_bench_read.vbs ${BIN_DIR}/auto_bench_read.vbs COPYONLY)
