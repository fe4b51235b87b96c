# GoogleTest from Debian's sources (/usr/src/googletest), built with the cross compiler.
set(NIMBREL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${NIMBREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# nimbrel_test(name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [ISOLATED] [DESKTOP] [MAIN]
#              [WINDOWS_VERSION win7|win8|win81])
# One test program, run by ctest under Wine. ISOLATED tests get a Wine prefix of their own
# (they end processes, which would take the shared prefix's programs with them). DESKTOP tests
# activate windows and move the keyboard focus: they take turns on the one virtual display.
# Every prefix reports Windows 10; WINDOWS_VERSION gives an isolated test a prefix of an older
# Windows, for the branches that only run there.
function(nimbrel_test name)
  cmake_parse_arguments(T "ISOLATED;MAIN;DESKTOP" "TIMEOUT;WINDOWS_VERSION" "SOURCES;LIBS;LABELS" ${ARGN})
  if(T_WINDOWS_VERSION AND NOT T_ISOLATED)
    message(FATAL_ERROR "${name}: WINDOWS_VERSION needs ISOLATED")
  endif()
  add_executable(${name} ${T_SOURCES})
  if(T_MAIN)
    target_link_libraries(${name} PRIVATE nimbrel_options ${T_LIBS} GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE nimbrel_options ${T_LIBS} GTest::gtest_main GTest::gmock)
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(T_ISOLATED)
    add_test(NAME ${name}
      COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-isolated.sh $<TARGET_FILE:${name}>)
    list(APPEND T_LABELS isolated)
    if(T_WINDOWS_VERSION)
      set_tests_properties(${name} PROPERTIES ENVIRONMENT "NIMBREL_WINDOWS_VERSION=${T_WINDOWS_VERSION}")
    endif()
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  if(T_DESKTOP)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK desktop)
  endif()
endfunction()
