// The instruction sets the fast kernels are compiled for, and the one run-time
// choice among them.
//
// Kernels are compiled per target with GCC `target` attributes, so the library
// runs on any x86-64. The choice is made once per process: the best level this
// CPU supports, lowered (never raised) by the environment variable
// VERRAKIN_ISA=scalar|avx2|avx512, which lets tests run every path on one
// machine. Every fast kernel gives the same bits as its scalar reference.
#pragma once

namespace verrakin {

enum class Isa : int {
    scalar = 0,  // plain C++, the reference for every kernel
    avx2 = 1,    // AVX2 + BMI2 (Haswell and later)
    avx512 = 2,  // AVX-512 F, BW, DQ, VL (Skylake-SP and later)
};

/// The best level this CPU (and its operating system) can run.
Isa supported_isa() noexcept;

/// The level every dispatching kernel uses, chosen once per process at the first
/// call that dispatches (VERRAKIN_ISA is read then; an unknown value is reported
/// once on standard error and the best level used).
Isa active_isa() noexcept;

/// "scalar", "avx2" or "avx512".
const char* isa_name(Isa isa) noexcept;

}  // namespace verrakin

// Function attributes that compile one kernel for one level. The sets match
// what detect() checks, so a kernel runs only where its instructions exist.
#define VK_TARGET_AVX2 [[gnu::target("avx2,bmi2")]]
#define VK_TARGET_AVX512 [[gnu::target("avx512f,avx512bw,avx512dq,avx512vl,avx2,bmi2")]]
