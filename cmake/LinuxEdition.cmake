# The Linux edition, natively with g++ over Debian's libusb-1.0 (preset linux):
#   cmake --preset linux && cmake --build --preset linux && ctest --preset linux
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_C_STANDARD 11)
add_compile_options(-Wall -Wextra)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)

set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

add_library(protocol INTERFACE)
target_include_directories(protocol INTERFACE ${CMAKE_SOURCE_DIR}/protocol)
add_subdirectory(devicemodel)
add_subdirectory(simdevice)
add_subdirectory(usblink)
add_subdirectory(shared/dump)
add_subdirectory(shared/ops)
add_subdirectory(cli)
# After the programs it installs and packs (uxfer_exe).
add_subdirectory(packaging/linux)

add_subdirectory(tests/linux)
add_subdirectory(bench/linux)
