# uXferAuto.dll: ReadToFile, verified WriteFromFile and CompareWithFile from
# VBScript against the bare program's same requests, with the script host's
# peak memory.  Run under the test bed, with no tests running:
#   <build>/wine-run <build>/bin/auto_bench.exe [--rounds N] [--ops read,write,compare] [64M 1G ...]
#   <build>/wine-run <build>/bin/x64/auto_bench.exe ... 4G
add_executable(auto_bench ${CMAKE_CURRENT_LIST_DIR}/auto_bench.cpp)
target_link_libraries(auto_bench PRIVATE uxfer bench_timed_run vdev_shim_static)
add_dependencies(auto_bench uxfer_auto uxfer_bench_bare vdevshim)
configure_file(${CMAKE_CURRENT_LIST_DIR}/auto_bench.vbs ${BIN_DIR}/auto_bench.vbs COPYONLY)
