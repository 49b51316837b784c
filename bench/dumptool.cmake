# Dump core: the 16-bit word conversion against memcpy.  The peak memory of
# Vantor's own Read flow is measured beside Vantor (dumptool/bench).
add_executable(dumptool_bench_wire ${CMAKE_CURRENT_LIST_DIR}/dumptool_wire.cpp)
target_link_libraries(dumptool_bench_wire PRIVATE dump_core)
