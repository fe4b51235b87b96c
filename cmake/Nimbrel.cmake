# Compile settings shared by every target of the project.

add_library(nimbrel_options INTERFACE)
target_compile_definitions(nimbrel_options INTERFACE
  UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
  _WIN32_WINNT=0x0A00 WINVER=0x0A00 NTDDI_VERSION=0x0A000006)
target_compile_options(nimbrel_options INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Werror -Wno-cast-function-type>)
target_include_directories(nimbrel_options INTERFACE ${PROJECT_SOURCE_DIR})
# One self-contained executable: no libstdc++, libgcc or winpthread DLLs to ship.
target_link_options(nimbrel_options INTERFACE -static -static-libgcc -static-libstdc++)
# Small release binaries: optimised for size (the program waits on the user, the system and the
# network, never on its own loops), unused functions and data dropped, symbols stripped.
target_compile_options(nimbrel_options INTERFACE $<$<CONFIG:Release>:-Os -ffunction-sections -fdata-sections>)
target_link_options(nimbrel_options INTERFACE $<$<CONFIG:Release>:-Wl,--gc-sections -s>)

# nimbrel_module(name SOURCES ... LIBS ...): a static library of one folder.
function(nimbrel_module name)
  cmake_parse_arguments(M "" "" "SOURCES;LIBS" ${ARGN})
  if(M_SOURCES)
    add_library(${name} STATIC ${M_SOURCES})
    target_link_libraries(${name} PUBLIC nimbrel_options ${M_LIBS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE nimbrel_options ${M_LIBS})
  endif()
endfunction()
