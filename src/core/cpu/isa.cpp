#include "isa.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "../platform/compiler.hpp"

#if VK_X86_64
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#include <immintrin.h>
#else
#include <cpuid.h>
#endif
#if defined(__APPLE__)
#include <sys/sysctl.h>
#endif
#endif

namespace verrakin {
namespace {

#if VK_X86_64

struct CpuidRegisters {
    std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) noexcept {
    CpuidRegisters r;
#if defined(_MSC_VER) && !defined(__clang__)
    int words[4];
    __cpuidex(words, static_cast<int>(leaf), static_cast<int>(subleaf));
    r = {static_cast<std::uint32_t>(words[0]), static_cast<std::uint32_t>(words[1]),
         static_cast<std::uint32_t>(words[2]), static_cast<std::uint32_t>(words[3])};
#else
    __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#endif
    return r;
}

// The register state the operating system saves on a context switch (XCR0).
// Only called once CPUID has said that XGETBV exists (OSXSAVE).
std::uint64_t saved_register_state() noexcept {
#if defined(_MSC_VER) && !defined(__clang__)
    return _xgetbv(0);
#else
    std::uint32_t low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return std::uint64_t{high} << 32 | low;
#endif
}

constexpr bool has(std::uint32_t word, int bit) noexcept { return (word >> bit & 1u) != 0; }

// macOS gives a thread the AVX-512 state only on its first use of it, so XCR0
// does not show it beforehand; the kernel says whether it would.
bool os_enables_avx512_on_demand() noexcept {
#if defined(__APPLE__)
    int enabled = 0;
    std::size_t size = sizeof enabled;
    return sysctlbyname("hw.optional.avx512f", &enabled, &size, nullptr, 0) == 0 && enabled != 0;
#else
    return false;
#endif
}

// What the CPU implements (CPUID) and the operating system preserves (XCR0):
// AVX2 needs the XMM and YMM state, AVX-512 also the opmask and ZMM state.
Isa detect() noexcept {
    if (cpuid(0, 0).eax < 7) return Isa::scalar;
    const CpuidRegisters basic = cpuid(1, 0);
    if (!has(basic.ecx, 27) || !has(basic.ecx, 28)) return Isa::scalar;  // OSXSAVE, AVX
    const CpuidRegisters extended = cpuid(7, 0);
    const std::uint64_t state = saved_register_state();
    constexpr std::uint64_t kYmmState = 0x6;     // XMM, YMM upper halves
    constexpr std::uint64_t kZmmState = 0xE0;    // opmask, ZMM upper halves, ZMM16-31
    if ((state & kYmmState) != kYmmState) return Isa::scalar;
    const bool avx2 = has(extended.ebx, 5) && has(extended.ebx, 8);  // AVX2, BMI2
    if (!avx2) return Isa::scalar;
    const bool avx512 = has(extended.ebx, 16) && has(extended.ebx, 17) &&  // F, DQ
                        has(extended.ebx, 30) && has(extended.ebx, 31);    // BW, VL
    if (avx512 && ((state & kZmmState) == kZmmState || os_enables_avx512_on_demand())) return Isa::avx512;
    return Isa::avx2;
}

#else

// Other architectures run the scalar references.
Isa detect() noexcept { return Isa::scalar; }

#endif

// VERRAKIN_ISA may only lower the level: a request above what the CPU runs is
// ignored. Any other value is a mistake that would go unnoticed (a benchmark of
// "SCALAR" measuring the best level), so it is reported once on standard error.
Isa choose() noexcept {
    const Isa supported = supported_isa();
    const char* request = std::getenv("VERRAKIN_ISA");
    if (request == nullptr || *request == '\0') return supported;
    for (Isa isa : {Isa::scalar, Isa::avx2, Isa::avx512}) {
        if (std::strcmp(request, isa_name(isa)) == 0) return isa < supported ? isa : supported;
    }
    std::fprintf(stderr,
                 "verrakin: ignoring VERRAKIN_ISA=\"%s\", which is not one of scalar, avx2, avx512 (lower case); "
                 "using %s, the best level this CPU runs\n",
                 request, isa_name(supported));
    std::fflush(stderr);
    return supported;
}

}  // namespace

Isa supported_isa() noexcept {
    static const Isa isa = detect();
    return isa;
}

Isa active_isa() noexcept {
    static const Isa isa = choose();
    return isa;
}

const char* isa_name(Isa isa) noexcept {
    switch (isa) {
        case Isa::avx2: return "avx2";
        case Isa::avx512: return "avx512";
        case Isa::scalar: break;
    }
    return "scalar";
}

}  // namespace verrakin
