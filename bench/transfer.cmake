# uXferRead / uXferWrite against raw ReadFile / WriteFile loops on the same pipes.
# Built for 32-bit and 64-bit programs; run both in one test-bed session:
#   <build>/wine-run <build>/bin/transfer_bench.exe [rounds]
#   <build>/wine-run <build>/bin/x64/transfer_bench.exe [rounds]
add_executable(transfer_bench ${CMAKE_CURRENT_LIST_DIR}/transfer_bench.cpp)
target_link_libraries(transfer_bench PRIVATE uxfer vdev_client vdev_shim_static win_owners)
