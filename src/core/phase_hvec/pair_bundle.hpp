// Bundles of exactly two items at small resolutions: the fold of levels p and
// q always gives the same sums, hence the same level, so the result of every
// pair is computed once per n (by the fold tables and the snapping rule
// themselves) and a bundle of two becomes one table read per position.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace verrakin {

/// Largest n with a pair table (n * n levels, at most 32 KiB).
inline constexpr std::uint32_t kPairLevels = 128;

/// levels[p * n + q] = the bundled level of levels p and q.
struct PairTable {
    std::vector<std::uint16_t> levels;
};

/// The pair table for n <= kPairLevels, kept between calls.
std::shared_ptr<const PairTable> pair_table(std::uint32_t n);

/// out[i] = the bundle of a[i] and b[i], for i < count.
void bundle_pairs(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out, std::uint64_t count,
                  const PairTable& table, std::uint32_t n) noexcept;

}  // namespace verrakin
