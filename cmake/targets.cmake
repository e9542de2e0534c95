# What the target platform needs: which kernels exist, the compiler's flags and
# how the module exports its one symbol.
include(CheckCXXSourceCompiles)

# A macOS build makes one architecture at a time (cibuildwheel builds x86_64
# and arm64 wheels separately): the x86 kernels are chosen per build.
list(LENGTH CMAKE_OSX_ARCHITECTURES osx_architecture_count)
if(osx_architecture_count GREATER 1)
  message(FATAL_ERROR "Build one architecture at a time (CMAKE_OSX_ARCHITECTURES=${CMAKE_OSX_ARCHITECTURES})")
endif()

# The x86 kernels are compiled exactly when the sources' own test says x86-64,
# so the file list and the dispatchers always agree.
set(CMAKE_REQUIRED_INCLUDES "${CMAKE_CURRENT_SOURCE_DIR}/src/core/platform")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
check_cxx_source_compiles([=[
#include "compiler.hpp"
#if !VK_X86_64
#error not x86-64
#endif
int main() { return 0; }
]=] VERRAKIN_TARGET_X86_64)
unset(CMAKE_REQUIRED_INCLUDES)
unset(CMAKE_TRY_COMPILE_TARGET_TYPE)

# Floating-point results are part of the contract: every operation rounded on
# its own, on every compiler (no contraction into fused multiply-add, no
# fast-math reassociation; Clang contracts by default, MSVC only when asked).
function(verrakin_compile_options target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /permissive- /utf-8 /Zc:__cplusplus /fp:precise /EHsc
                           $<$<CONFIG:Release>:/O2>)
    target_compile_definitions(${target} PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -ffp-contract=off -fno-fast-math
                           -fvisibility=hidden -fvisibility-inlines-hidden
                           "-ffile-prefix-map=${CMAKE_CURRENT_SOURCE_DIR}/="
                           $<$<CONFIG:Release>:-O3>)
    if(VERRAKIN_SANITIZE)
      target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=undefined
                             -fno-omit-frame-pointer)
      target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
  endif()
endfunction()

# A module exports its PyInit_ function and nothing else. Hidden visibility and
# PyMODINIT_FUNC give that on every platform for our own code; ELF linkers are
# also given a version script, which hides what inline library code would
# otherwise export with default visibility, and Apple's linker an export list.
function(verrakin_export_only_init target init_symbol version_script)
  if(APPLE)
    target_link_options(${target} PRIVATE "LINKER:-exported_symbol,_${init_symbol}")
  elseif(NOT WIN32)
    target_link_options(${target} PRIVATE "LINKER:--version-script=${version_script}")
    set_target_properties(${target} PROPERTIES LINK_DEPENDS "${version_script}")
  endif()
endfunction()
