#include "batch_similarity.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "../cpu/isa.hpp"
#include "../maths/maths.hpp"
#include "../phase_hvec/angles.hpp"
#include "../phase_hvec/table_cache.hpp"
#include "batch_kernels.hpp"

namespace verrakin {

namespace detail {

void batch_sums_reference(const std::uint16_t* query, const std::uint16_t* const* entries, std::size_t count,
                          std::uint64_t length, const BatchTables& tables, double* sums) noexcept {
    const double* by_difference = tables.by_difference;
    for (std::size_t j = 0; j < count; ++j) {
        const std::uint16_t* entry = entries[j];
        double sum = -0.0;
        for (std::uint64_t i = 0; i < length; ++i) {
            sum += by_difference[static_cast<std::int32_t>(query[i]) - static_cast<std::int32_t>(entry[i])];
        }
        sums[j] = sum;
    }
}

#if VK_X86_64
namespace {

// Gathers or one scalar load per term: which is faster depends on the core
// (gathers win on Sapphire Rapids, lost on Zen 3, and some microcode
// mitigations slow them), so the first AVX-512 call times both forms on a
// small batch (16 entries of 2048 positions at n = 256, interleaved, the best
// of 16 runs each, about 0.3 ms in all) and keeps the faster. Both give the
// same bits.
BatchKernel faster_of(BatchKernel loads, BatchKernel gathers) noexcept {
    constexpr std::size_t kEntries = 16;
    constexpr std::uint64_t kLength = 2048;
    constexpr std::uint32_t kResolution = 256;
    try {
        std::vector<double> terms(kResolution, 0.0);
        std::vector<std::uint16_t> levels((kEntries + 1) * kLength);
        std::uint32_t state = 12345;
        for (std::uint16_t& level : levels) {
            state = state * 1103515245u + 12345u;
            level = static_cast<std::uint16_t>((state >> 16) % kResolution);
        }
        std::array<const std::uint16_t*, kEntries> entries;
        for (std::size_t j = 0; j < kEntries; ++j) entries[j] = levels.data() + (j + 1) * kLength;
        const BatchTables tables{terms.data(), nullptr, kResolution, true};
        std::array<double, kEntries> sums;
        using Clock = std::chrono::steady_clock;
        Clock::duration best[2] = {Clock::duration::max(), Clock::duration::max()};
        const BatchKernel forms[2] = {loads, gathers};
        for (int run = 0; run < 16; ++run) {
            for (int form = 0; form < 2; ++form) {
                const auto start = Clock::now();
                forms[form](levels.data(), entries.data(), kEntries, kLength, tables, sums.data());
                best[form] = std::min(best[form], Clock::now() - start);
            }
        }
        return best[1] < best[0] ? gathers : loads;
    } catch (...) {  // no memory for the trial: the loads, which need none
        return loads;
    }
}

}  // namespace
#endif

BatchKernel batch_kernel() noexcept {
    switch (active_isa()) {
#if VK_X86_64
        case Isa::avx512: {
            static const BatchKernel chosen = faster_of(batch_sums_avx512, batch_sums_avx512_gathers);
            return chosen;
        }
        case Isa::avx2: return batch_sums_avx2;
#else
        case Isa::avx512:
        case Isa::avx2:
#endif
        case Isa::scalar: break;
    }
    return batch_sums_scalar;
}

}  // namespace detail

namespace {

// cos(level_angle(d, n)) for every difference d = -(n-1) .. n-1, at index
// d + n - 1: the very terms similarity() adds, from the same maths call.
// At n up to kMaxPairResolution the pair table follows, copied from it.
struct CosineTable {
    std::vector<double> values;
    // Whether every term has the bits of its mirror. cos is even and the angle
    // of -d is the negated angle of d (each rounding is symmetric), so an exact
    // cos makes the table mirrored; it is checked once, when the table is built.
    bool mirrored = false;
};

bool is_mirrored(const std::vector<double>& values, std::uint32_t n) noexcept {
    const double* by_difference = values.data() + (n - 1);
    for (std::int64_t d = 1; d < static_cast<std::int64_t>(n); ++d) {
        if (std::memcmp(&by_difference[d], &by_difference[-d], sizeof(double)) != 0) return false;
    }
    return true;
}

CosineTable cosine_table(std::uint32_t n) {
    const std::size_t width = 2 * std::size_t{n} - 1;
    const std::size_t pairs = n <= detail::kMaxPairResolution ? width * width : 0;
    std::vector<double> table(width + 2 * pairs);
    const double resolution = static_cast<double>(n);
    for (std::size_t j = 0; j < width; ++j) {
        const double d = static_cast<double>(static_cast<std::int64_t>(j) - static_cast<std::int64_t>(n - 1));
        table[j] = maths::cos(level_angle(d, resolution));
    }
    double* pair = table.data() + width;
    for (std::size_t d0 = 0; d0 < pairs / width; ++d0) {
        for (std::size_t d1 = 0; d1 < width; ++d1) {
            *pair++ = table[d0];
            *pair++ = table[d1];
        }
    }
    const bool mirrored = is_mirrored(table, n);
    return CosineTable{std::move(table), mirrored};
}

TableCache<CosineTable> batch_tables;

// Entries per kernel call: the unit between polls of the caller's check.
constexpr std::size_t kBlockEntries = 64;

// The levels the matrix reads per block of entries: the block stays in the
// second-level cache (beside a table of up to 512 KB) while every query passes
// over it, instead of coming from memory once per query.
constexpr std::size_t kMatrixBlockBytes = std::size_t{256} << 10;

// The table and the kernel of one resolution, chosen once per call.
class BatchRun {
public:
    explicit BatchRun(std::uint32_t n)
        : table_(batch_tables.get(n, [n] { return cosine_table(n); })), kernel_(detail::batch_kernel()) {
        const std::size_t width = 2 * std::size_t{n} - 1;
        const double* values = table_->values.data();
        tables_ = detail::BatchTables{values + (n - 1), table_->values.size() > width ? values + width : nullptr, n,
                                      table_->mirrored};
    }

    /// out[j] = similarity(query, entries[j]) for the entries' levels `levels`.
    void similarities(const PhaseHVec& query, const std::uint16_t* const* levels, std::size_t count,
                      double* out) const noexcept {
        kernel_(query.phases.data(), levels, count, query.phases.size(), tables_, out);
        const double divisor = static_cast<double>(query.dim);
        for (std::size_t j = 0; j < count; ++j) out[j] /= divisor;
    }

private:
    TableCache<CosineTable>::Ptr table_;
    detail::BatchKernel kernel_;
    detail::BatchTables tables_{};
};

}  // namespace

Expected<Ok, Cancelled> batch_similarities(const PhaseHVec& query, std::span<const PhaseHVec> entries, double* out,
                                           const CancelCheck& cancel) {
    if (entries.empty()) return Ok{};
    if (query.dim == 0) {
        std::fill(out, out + entries.size(), 1.0);
        return Ok{};
    }
    const BatchRun run(query.n);
    std::vector<const std::uint16_t*> levels(std::min(entries.size(), kBlockEntries));
    CancelPacer pacer(cancel);
    for (std::size_t first = 0; first < entries.size(); first += kBlockEntries) {
        const std::size_t count = std::min(kBlockEntries, entries.size() - first);
        for (std::size_t j = 0; j < count; ++j) levels[j] = entries[first + j].phases.data();
        run.similarities(query, levels.data(), count, out + first);
        if (first + count < entries.size() && pacer.after(count * query.phases.size())) return unexpected(Cancelled{});
    }
    return Ok{};
}

Expected<Ok, Cancelled> batch_similarity_matrix(std::span<const PhaseHVec> queries, std::span<const PhaseHVec> entries,
                                                double* out, const CancelCheck& cancel) {
    if (queries.empty() || entries.empty()) return Ok{};
    const PhaseHVec& shape = queries.front();
    const std::size_t columns = entries.size();
    if (shape.dim == 0) {
        std::fill(out, out + queries.size() * columns, 1.0);
        return Ok{};
    }
    const BatchRun run(shape.n);
    const std::size_t row_bytes = 2 * shape.phases.size();
    // Whole groups of 32 entries, the widest a kernel takes at once: a block of
    // 16 long entries halved the n <= 16 kernel's speed at dim 10,000.
    const std::size_t block = std::max<std::size_t>(kMatrixBlockBytes / row_bytes / 32 * 32, 32);
    std::vector<const std::uint16_t*> levels(std::min(columns, block));
    CancelPacer pacer(cancel);
    for (std::size_t first = 0; first < columns; first += block) {
        const std::size_t count = std::min(block, columns - first);
        for (std::size_t j = 0; j < count; ++j) levels[j] = entries[first + j].phases.data();
        for (std::size_t r = 0; r < queries.size(); ++r) {
            run.similarities(queries[r], levels.data(), count, out + r * columns + first);
            const bool last = first + count == columns && r + 1 == queries.size();
            if (!last && pacer.after(count * shape.phases.size())) return unexpected(Cancelled{});
        }
    }
    return Ok{};
}

}  // namespace verrakin
