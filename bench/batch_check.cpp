// Checks the batch similarity kernels against the step-by-step reference, bit
// for bit, for each instruction-set level this CPU runs: every group size and
// remainder, lengths around the position blocks, levels at both ends of the
// range and the pair table's whole index range (n <= 16), then the whole batch
// against similarity() itself, one query at a time and as a matrix. Also the
// level checks and rotation of the byte format against plain loops.
//
//     cmake -S . -B build/check -DVERRAKIN_NATIVE_CHECKS=ON && cmake --build build/check
//     build/check/batch_check
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "../src/core/batch/batch_kernels.hpp"
#include "../src/core/batch/batch_similarity.hpp"
#include "../src/core/batch/level_codec.hpp"
#include "../src/core/cpu/isa.hpp"
#include "../src/core/platform/compiler.hpp"
#include "../src/core/phase_hvec/algebra.hpp"
#include "../src/core/phase_hvec/generator.hpp"

using namespace verrakin;

namespace {

std::mt19937_64 rng(20261208);
std::uint64_t checked = 0;
std::uint64_t mismatches = 0;

void fail(const char* what, std::uint32_t n, std::size_t count, std::uint64_t length) {
    if (++mismatches <= 20) std::printf("mismatch %s n=%u entries=%zu length=%llu\n", what, n, count,
                                        static_cast<unsigned long long>(length));
}

PhaseHVec vector_of(std::uint64_t dim, std::uint32_t n, int shape) {
    PhaseHVec v{dim, n, PhaseArray::allocate(dim)};
    for (std::uint64_t i = 0; i < dim; ++i) {
        // 0: random; 1: all lowest; 2: all highest (extreme differences both ways)
        v.phases.data()[i] = static_cast<std::uint16_t>(shape == 0 ? rng() % n : shape == 1 ? 0 : n - 1);
    }
    return v;
}

void check_batch() {
    const std::uint32_t resolutions[] = {2, 3, 15, 16, 17, 255, 256, 65535, 65536};
    const std::uint64_t lengths[] = {0, 1, 3, 255, 256, 257, 1000};
    const std::size_t counts[] = {1, 2, 3, 7, 8, 9, 15, 16, 17, 33, 64, 65, 130};
    for (std::uint32_t n : resolutions) {
        for (std::uint64_t length : lengths) {
            const PhaseHVec query = vector_of(length, n, static_cast<int>(rng() % 3));
            std::vector<PhaseHVec> entries;
            for (std::size_t j = 0; j < 130; ++j) entries.push_back(vector_of(length, n, j < 3 ? int(j) : 0));
            for (std::size_t count : counts) {
                std::vector<double> got(count);
                const auto done = batch_similarities(query, {entries.data(), count}, got.data());
                if (!done) fail("cancelled", n, count, length);
                for (std::size_t j = 0; j < count; ++j) {
                    const double want = similarity(query, entries[j]).value();
                    ++checked;
                    if (std::memcmp(&got[j], &want, sizeof want) != 0) fail(isa_name(active_isa()), n, count, length);
                }
            }
        }
    }
}

// The matrix, a block of entries at a time for every query, against
// similarity() per pair: dims with blocks of 32 entries (8200) and of 128
// (1024), entry counts that leave a partial block.
void check_matrix() {
    for (const std::uint32_t n : {16u, 256u, 65536u}) {
        for (const std::uint64_t dim : {std::uint64_t{0}, std::uint64_t{1024}, std::uint64_t{8200}}) {
            std::vector<PhaseHVec> queries, entries;
            for (std::size_t r = 0; r < 3; ++r) queries.push_back(vector_of(dim, n, static_cast<int>(r)));
            for (std::size_t j = 0; j < 150; ++j) entries.push_back(vector_of(dim, n, j < 3 ? int(j) : 0));
            for (const std::size_t count : {std::size_t{1}, std::size_t{17}, std::size_t{150}}) {
                std::vector<double> got(queries.size() * count);
                if (!batch_similarity_matrix(queries, {entries.data(), count}, got.data())) fail("cancelled", n, count, dim);
                for (std::size_t r = 0; r < queries.size(); ++r) {
                    for (std::size_t j = 0; j < count; ++j) {
                        const double want = similarity(queries[r], entries[j]).value();
                        ++checked;
                        if (std::memcmp(&got[r * count + j], &want, sizeof want) != 0) fail("matrix", n, count, dim);
                    }
                }
            }
        }
    }
}

// Every kernel level this CPU runs, called directly against the reference.
void check_kernels() {
    // Both forms of each level: [level][0] one load per term, [level][1] gathers
    // (AVX-512 only: the others have one form). The wider levels exist on x86-64 only.
    const detail::BatchKernel kernels[][2] = {{detail::batch_sums_scalar, detail::batch_sums_scalar},
#if VK_X86_64
                                              {detail::batch_sums_avx2, detail::batch_sums_avx2},
                                              {detail::batch_sums_avx512, detail::batch_sums_avx512_gathers}
#endif
    };
    const int levels_here = static_cast<int>(sizeof kernels / sizeof kernels[0]);
    for (const bool mirrored : {false, true})
    for (std::uint32_t n : {2u, 7u, 16u, 17u, 1000u, 8192u, 8193u, 65536u}) {
        std::vector<double> by_difference(2 * std::size_t{n} - 1);
        // Random terms in [-0.5, 0.5): a wrong term or a reordered sum shows in the bits.
        for (double& term : by_difference) term = static_cast<double>(rng() >> 11) * 0x1p-53 - 0.5;
        if (mirrored) {
            for (std::size_t d = 1; d < n; ++d) by_difference[n - 1 - d] = by_difference[n - 1 + d];
        }
        const std::size_t width = by_difference.size();
        std::vector<double> pairs;
        if (n <= detail::kMaxPairResolution) {
            for (std::size_t a = 0; a < width; ++a) {
                for (std::size_t b = 0; b < width; ++b) {
                    pairs.push_back(by_difference[a]);
                    pairs.push_back(by_difference[b]);
                }
            }
        }
        // Unmirrored random terms: the kernels must index by the signed difference.
        const detail::BatchTables tables{by_difference.data() + (n - 1), pairs.empty() ? nullptr : pairs.data(), n,
                                         mirrored};
        for (std::uint64_t length : {1ull, 31ull, 256ull, 700ull}) {
            const PhaseHVec query = vector_of(length, n, 0);
            std::vector<PhaseHVec> entries;
            std::vector<const std::uint16_t*> levels;
            for (std::size_t j = 0; j < 45; ++j) {  // groups of 16, 16, 8 and a rest of 5
                entries.push_back(vector_of(length, n, j % 5 == 1 ? 1 : j % 5 == 2 ? 2 : 0));
            }
            for (const PhaseHVec& e : entries) levels.push_back(e.phases.data());
            std::vector<double> want(entries.size()), got(entries.size());
            detail::batch_sums_reference(query.phases.data(), levels.data(), levels.size(), length, tables,
                                         want.data());
            for (int level = 0; level <= static_cast<int>(supported_isa()) && level < levels_here; ++level) {
                for (int form = 0; form < 2; ++form) {
                    std::fill(got.begin(), got.end(), 0.0);
                    kernels[level][form](query.phases.data(), levels.data(), levels.size(), length, tables,
                                         got.data());
                    checked += got.size();
                    if (std::memcmp(got.data(), want.data(), got.size() * sizeof(double)) != 0) {
                        fail(form == 0 ? isa_name(static_cast<Isa>(level)) : "gathers", n, levels.size(), length);
                    }
                }
            }
        }
    }
}

void check_codec() {
    for (std::uint32_t n : {2u, 16u, 65535u, 65536u}) {
        for (std::uint64_t dim : {0, 1, 4095, 4096, 4097, 10000}) {
            PhaseHVec v = vector_of(dim, n, 0);
            for (std::uint64_t shift : {std::uint64_t{0}, std::uint64_t{1}, dim / 2, dim ? dim - 1 : 0}) {
                if (dim == 0 && shift != 0) continue;
                const PhaseHVec r = rotate(v, shift);
                for (std::uint64_t i = 0; i < dim; ++i) {
                    ++checked;
                    if (r.phases.data()[(i + shift) % dim] != v.phases.data()[i]) fail("rotate", n, 0, dim);
                }
            }
            if (n <= 65535 && dim > 0) {
                const std::uint64_t bad = rng() % dim;
                v.phases.data()[bad] = static_cast<std::uint16_t>(n);
                const auto found = first_bad_level(v.phases.data(), dim, n);
                ++checked;
                if (!found || *found != bad) fail("first_bad_level", n, 0, dim);
            }
        }
    }
}

}  // namespace

int main() {
    [[maybe_unused]] const detail::BatchKernel chosen = detail::batch_kernel();
    bool gathers = false;  // an x86-64 form
#if VK_X86_64
    gathers = chosen == detail::batch_sums_avx512_gathers;
#endif
    std::printf("batch kernels: active level %s (%s), this CPU runs up to %s\n", isa_name(active_isa()),
                gathers ? "gathers" : "one load per term", isa_name(supported_isa()));
    check_kernels();
    check_batch();
    check_matrix();
    check_codec();
    std::printf("%llu values checked, %llu mismatches\n", static_cast<unsigned long long>(checked),
                static_cast<unsigned long long>(mismatches));
    return mismatches == 0 ? 0 : 1;
}
