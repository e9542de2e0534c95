#include "isa.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace verrakin {
namespace {

Isa detect() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl")) {
        return Isa::avx512;
    }
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2")) return Isa::avx2;
#endif
    return Isa::scalar;
}

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
