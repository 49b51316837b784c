# uXferRead / uXferWrite against raw ReadFile / WriteFile loops on the same pipes.
# Run under the test bed: <build>/wine-run <build>/bin/transfer_bench.exe [rounds]
add_executable(transfer_bench ${CMAKE_CURRENT_LIST_DIR}/transfer_bench.cpp)
target_link_libraries(transfer_bench PRIVATE uxfer vdev_client vdev_shim_static)
