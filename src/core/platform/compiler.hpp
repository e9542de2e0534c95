// The compiler-specific spellings the tree uses, for GCC, Clang and MSVC, and
// the target architecture the x86 kernels need.
#pragma once

// 1 when compiling for x86-64, where the AVX2 and AVX-512 kernels are built.
// CMake includes this header to decide which kernel files to compile, so the
// two can never disagree.
#if defined(__x86_64__) || (defined(_M_X64) && !defined(_M_ARM64EC))
#define VK_X86_64 1
#else
#define VK_X86_64 0
#endif

#if defined(_MSC_VER) && !defined(__clang__)
#define VK_ALWAYS_INLINE __forceinline
#define VK_NOINLINE __declspec(noinline)
#define VK_COLD
#else
#define VK_ALWAYS_INLINE [[gnu::always_inline]] inline
#define VK_NOINLINE [[gnu::noinline]]
#define VK_COLD [[gnu::cold]]
#endif

// Compiles one kernel for one instruction-set level; the sets match what
// cpu/isa.cpp checks, so a kernel runs only where its instructions exist.
// MSVC has no per-function targets: it accepts every intrinsic anywhere, and
// its auto-vectoriser stays at the baseline (SSE2), which keeps the bits.
#if VK_X86_64
#if defined(_MSC_VER) && !defined(__clang__)
#define VK_TARGET_AVX2
#define VK_TARGET_AVX512
#else
#define VK_TARGET_AVX2 [[gnu::target("avx2,bmi2")]]
#define VK_TARGET_AVX512 [[gnu::target("avx512f,avx512bw,avx512dq,avx512vl,avx2,bmi2")]]
#endif
#endif

// GCC (12 and later) starts the deliberately undefined operand of some
// intrinsics (the pass-through of gathers and permutes) as a self-initialised
// variable and then reports it, after inlining, as maybe uninitialised. Every
// lane of such an operand is overwritten. Other compilers do not warn.
#if defined(__GNUC__) && !defined(__clang__)
#define VK_ALLOW_UNDEFINED_INTRINSIC_OPERANDS                       \
    _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"") \
        _Pragma("GCC diagnostic ignored \"-Wuninitialized\"")
#else
#define VK_ALLOW_UNDEFINED_INTRINSIC_OPERANDS
#endif
