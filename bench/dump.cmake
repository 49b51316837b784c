# Dump core: the 16-bit word conversion against memcpy.  The peak memory of
# Vantor's own Read flow is measured by dumptool.cmake.
add_executable(dump_bench_wire ${CMAKE_CURRENT_LIST_DIR}/dump_wire.cpp)
target_link_libraries(dump_bench_wire PRIVATE dump_core)
