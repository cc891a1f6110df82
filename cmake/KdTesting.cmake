# Test support on both builds.
#
# Linux: the system's GoogleTest; tests run natively on the Win32 layer.
# Windows: GoogleTest built from Debian's sources with mingw-w64; the test
# programs run under Wine (wine/run.sh) in a 32-bit prefix that a CTest
# fixture creates fresh for the run and stops at the end. A Wine test that
# finds no Wine is skipped (exit code 77), unless KD_REQUIRE_WINE=1 is set in
# the environment, as CI sets it.

if(WIN32)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(KD_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the mingw build")
  # mingw's win32-threads runtime has no std::mutex; GoogleTest needs it only
  # for its Notification class, which a Win32 event replaces.
  add_compile_definitions(GTEST_HAS_NOTIFICATION_=1)
  add_subdirectory(${KD_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(t gtest gtest_main)
    target_compile_options(${t} PRIVATE -include ${CMAKE_SOURCE_DIR}/cmake/gtest-mingw-compat.h -w)
    target_compile_options(${t} INTERFACE -include ${CMAKE_SOURCE_DIR}/cmake/gtest-mingw-compat.h)
  endforeach()
  set(KD_WINE_RUN ${CMAKE_SOURCE_DIR}/wine/run.sh)
  set(KD_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
else()
  find_package(GTest REQUIRED)
endif()

# kd_add_test(<name> COMMAND <target> [ARGS ...] [LABELS ...])
# Registers a test program; on Windows it runs under Wine with the prefix
# fixture, one Wine test at a time (they share the prefix's driver directory).
function(kd_add_test name)
  cmake_parse_arguments(ARG "" "COMMAND" "ARGS;LABELS" ${ARGN})
  if(WIN32)
    add_test(NAME ${name} COMMAND ${KD_WINE_RUN} ${KD_WINE_PREFIX} $<TARGET_FILE:${ARG_COMMAND}> ${ARG_ARGS})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wineprefix RESOURCE_LOCK wineprefix
                                            SKIP_RETURN_CODE 77 LABELS "wine;${ARG_LABELS}")
  else()
    add_test(NAME ${name} COMMAND ${ARG_COMMAND} ${ARG_ARGS})
    if(ARG_LABELS)
      set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
  endif()
endfunction()

# kd_gtest(<name> SOURCES ... LIBS ...): a GoogleTest program on either build.
function(kd_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ARGS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  if(WIN32)
    target_link_options(${name} PRIVATE ${KD_STATIC_RUNTIME})
  endif()
  kd_add_test(${name} COMMAND ${name} ARGS ${ARG_ARGS})
endfunction()
