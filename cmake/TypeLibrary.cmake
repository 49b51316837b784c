# Type libraries: widl makes a type library, the C++ interfaces and their
# identifiers from one IDL file, for the bitness of the tree.
find_program(WIDL i686-w64-mingw32-widl REQUIRED)
# widl stamps the type library with the time it runs: a fixed clock keeps two
# builds of the same sources identical.
find_program(FAKETIME faketime REQUIRED)
find_path(WIDL_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows NO_CMAKE_FIND_ROOT_PATH REQUIRED)
# Wine's stdole2.tlb, which the libraries import: the 32-bit Wine's, or where
# only the 64-bit Wine is installed (a machine that runs no 32-bit code), its own.
find_path(WIDL_STDOLE_DIR stdole2.tlb
  PATHS /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  NO_CMAKE_FIND_ROOT_PATH REQUIRED)

# add_type_library(<target> <name>): <name>.idl of the current source folder
# into <name>.tlb, <name>.h and <name>_i.c of the current binary folder, made
# by the custom target <target>.
function(add_type_library target name)
  if(WIN64_BUILD)
    set(machine -m64)
  else()
    set(machine -m32)
  endif()
  set(gen ${CMAKE_CURRENT_BINARY_DIR})
  add_custom_command(
    OUTPUT ${gen}/${name}.h ${gen}/${name}_i.c ${gen}/${name}.tlb
    # Run beside the IDL and given its bare name, which the generated files
    # quote: no path of the build machine goes into the SDK's headers.
    COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${FAKETIME} "1970-01-01 00:00:00"
            ${WIDL} ${machine} -I${WIDL_IDL_DIR} -L${WIDL_STDOLE_DIR}
            -t -T ${gen}/${name}.tlb -h -H ${gen}/${name}.h -u -U ${gen}/${name}_i.c ${name}.idl
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}.idl
    COMMENT "widl ${name}.idl"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${gen}/${name}.h ${gen}/${name}_i.c ${gen}/${name}.tlb)
endfunction()
