# How the product modules are built on the two platforms.
#
# Windows (mingw-w64, i686): PE32 DLLs and programs that import only system
# DLLs. The C and C++ runtimes are linked statically; stdcall exports are
# named by a .def file, which also keeps them undecorated.
#
# Linux: shared libraries and programs on the Win32 layer (target w32emu).
# A linker version script exports the same names as the .def file, plus
# DllMain, which the layer's loader calls as the Windows loader would.

set(KD_PORTABLE_INCLUDE ${CMAKE_SOURCE_DIR}/win32layer/portable)

if(WIN32)
  set(KD_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
endif()

# Settings every product module shares: the portable header, the runtime.
function(kd_product_settings target)
  target_include_directories(${target} PRIVATE ${KD_PORTABLE_INCLUDE})
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
    target_link_options(${target} PRIVATE ${KD_STATIC_RUNTIME})
  else()
    target_link_libraries(${target} PRIVATE w32emu)
  endif()
endfunction()

# kd_product_dll(<name> DEF <file.def> EXPORTS <linux version script> SOURCES ... LIBS ...)
function(kd_product_dll name)
  cmake_parse_arguments(ARG "" "DEF;EXPORTS" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  kd_product_settings(${name})
  set_target_properties(${name} PROPERTIES PREFIX "")
  if(WIN32)
    target_sources(${name} PRIVATE ${ARG_DEF})
    target_link_options(${name} PRIVATE -Wl,--enable-stdcall-fixup)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  else()
    # Same file name as on Windows, so that paths in tests read alike.
    set_target_properties(${name} PROPERTIES SUFFIX ".dll")
    # The version script alone decides what is exported: with
    # -fvisibility=hidden it could export nothing, since product code carries
    # no export attributes (the SDK's have no Linux spelling).
    target_link_options(${name} PRIVATE -Wl,--version-script=${ARG_EXPORTS} -Wl,--no-undefined)
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${ARG_EXPORTS})
  endif()
endfunction()
