// Times the batch similarity kernels in ns per term (one query, one entry, one
// position): every form this CPU runs, interleaved, best of several runs, for
// n = 16, 256 and 65536. "in cache": 128 entries of 1024 levels (256 KB, the
// block that similarity_matrix keeps in the second-level cache for all its
// queries); "from memory": 1,000 entries of 10,000 levels, each its own
// allocation (20 MB, what one similarities() call reads).
//
//     build/check/batch_kernel_times
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

#include "../src/core/batch/batch_kernels.hpp"
#include "../src/core/cpu/isa.hpp"
#include "../src/core/platform/compiler.hpp"

using namespace verrakin;

namespace {

struct Form {
    const char* name;
    detail::BatchKernel kernel;
    Isa needs;
};

struct Workload {
    const char* name;
    std::size_t entries;
    std::uint64_t length;
};

}  // namespace

int main() {
    const Form forms[] = {
        {"scalar", detail::batch_sums_scalar, Isa::scalar},
#if VK_X86_64
        {"avx2", detail::batch_sums_avx2, Isa::avx2},
        {"avx512 loads", detail::batch_sums_avx512, Isa::avx512},
        {"avx512 gathers", detail::batch_sums_avx512_gathers, Isa::avx512},
#endif
    };
    const Workload workloads[] = {{"in cache", 128, 1024}, {"from memory", 1000, 10000}};
    std::mt19937_64 rng(9);
    std::printf("%-12s %6s %-15s %10s\n", "entries", "n", "form", "ns/term");
    for (const Workload& work : workloads) {
        for (const std::uint32_t n : {16u, 256u, 65536u}) {
            // Any mirrored terms time alike; the pair table as the library builds it.
            std::vector<double> by_difference(2 * std::size_t{n} - 1);
            for (std::uint32_t d = 0; d < n; ++d) {
                by_difference[n - 1 + d] = by_difference[n - 1 - d] = static_cast<double>(rng() >> 11) * 0x1p-53;
            }
            std::vector<double> pairs;
            if (n <= detail::kMaxPairResolution) {
                for (const double a : by_difference) {
                    for (const double b : by_difference) {
                        pairs.push_back(a);
                        pairs.push_back(b);
                    }
                }
            }
            const detail::BatchTables tables{by_difference.data() + (n - 1), pairs.empty() ? nullptr : pairs.data(),
                                             n, true};
            std::vector<std::unique_ptr<std::uint16_t[]>> levels;
            std::vector<const std::uint16_t*> entries;
            for (std::size_t j = 0; j <= work.entries; ++j) {
                levels.push_back(std::make_unique<std::uint16_t[]>(work.length));
                for (std::uint64_t i = 0; i < work.length; ++i) levels.back()[i] = static_cast<std::uint16_t>(rng() % n);
                if (j > 0) entries.push_back(levels.back().get());
            }
            std::vector<double> sums(work.entries);
            const double terms = static_cast<double>(work.entries) * static_cast<double>(work.length);
            std::vector<double> best(std::size(forms), 1e300);
            for (int run = 0; run < 15; ++run) {
                for (std::size_t f = 0; f < std::size(forms); ++f) {
                    if (forms[f].needs > supported_isa()) continue;
                    const auto start = std::chrono::steady_clock::now();
                    forms[f].kernel(levels[0].get(), entries.data(), entries.size(), work.length, tables, sums.data());
                    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
                    best[f] = std::min(best[f], took.count() / terms);
                }
            }
            for (std::size_t f = 0; f < std::size(forms); ++f) {
                if (forms[f].needs <= supported_isa()) {
                    std::printf("%-12s %6u %-15s %10.3f\n", work.name, n, forms[f].name, best[f]);
                }
            }
        }
    }
    return 0;
}
