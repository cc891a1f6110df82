# Included right after project() by the fuzz preset: every module of the
# build gets libFuzzer's coverage instrumentation, so the fuzzer sees the
# branches of the hook library, the Win32 layer and the simulation, not only
# those of the fuzz target. KD_SANITIZE adds ASan and UBSan.
#
# The product libraries are linked with --no-undefined; clang links the
# sanitizer runtime statically into programs only, so the shared libraries
# take it from its shared form, which also carries the weak coverage
# callbacks that the fuzz program's own libFuzzer overrides at run time.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzz build needs clang (libFuzzer); found ${CMAKE_CXX_COMPILER_ID}")
endif()

set(KD_FUZZ ON CACHE BOOL "Build the libFuzzer targets" FORCE)

string(APPEND CMAKE_C_FLAGS " -fsanitize=fuzzer-no-link")
string(APPEND CMAKE_CXX_FLAGS " -fsanitize=fuzzer-no-link")

execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libclang_rt.asan-x86_64.so
                OUTPUT_VARIABLE KD_ASAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(KD_ASAN_RUNTIME_DIR "${KD_ASAN_RUNTIME}" DIRECTORY)
string(APPEND CMAKE_SHARED_LINKER_FLAGS " -shared-libasan -Wl,-rpath,${KD_ASAN_RUNTIME_DIR}")
string(APPEND CMAKE_EXE_LINKER_FLAGS " -shared-libasan -Wl,-rpath,${KD_ASAN_RUNTIME_DIR}")
