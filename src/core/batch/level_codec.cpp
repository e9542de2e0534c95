#include "level_codec.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>

namespace verrakin {
namespace {

static_assert(std::endian::native == std::endian::little, "the byte format is written as the host lays it out");

constexpr char kMagic[4] = {'V', 'K', 'P', 'H'};
constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ULL;

std::uint64_t read_u64(const std::byte* p) noexcept {
    std::uint64_t value = 0;
    std::memcpy(&value, p, sizeof value);
    return value;
}

std::uint32_t read_u32(const std::byte* p) noexcept {
    std::uint32_t value = 0;
    std::memcpy(&value, p, sizeof value);
    return value;
}

std::uint64_t mix_lane(std::uint64_t lane, std::uint64_t word) noexcept {
    return std::rotl(lane + word * kPrime2, 31) * kPrime1;
}

// Four lanes over the bytes, eight bytes per word; a tail shorter than a word
// is zero-padded, and the length enters the final fold so padding cannot alias.
struct Lanes {
    std::uint64_t lane[4] = {kPrime1, kPrime2, kPrime3, kPrime1 ^ kPrime3};
    std::uint64_t total = 0;

    void feed(std::span<const std::byte> bytes) noexcept {
        const std::byte* p = bytes.data();
        std::size_t left = bytes.size();
        total += left;
        for (; left >= 32; p += 32, left -= 32) {
            for (int k = 0; k < 4; ++k) lane[k] = mix_lane(lane[k], read_u64(p + 8 * k));
        }
        int k = 0;
        for (; left >= 8; p += 8, left -= 8, ++k) lane[k] = mix_lane(lane[k], read_u64(p));
        if (left > 0) {
            std::uint64_t word = 0;
            std::memcpy(&word, p, left);
            lane[k] = mix_lane(lane[k], word);
        }
    }

    std::uint64_t fold() const noexcept {
        std::uint64_t h = total * kPrime3;
        for (std::uint64_t value : lane) h = std::rotl(h ^ mix_lane(0, value), 27) * kPrime1 + kPrime3;
        h ^= h >> 33;
        h *= kPrime2;
        h ^= h >> 29;
        return h;
    }
};

}  // namespace

std::uint64_t level_checksum(std::span<const std::byte> header, std::span<const std::byte> levels) noexcept {
    Lanes header_lanes;
    header_lanes.feed(header);
    Lanes level_lanes;
    level_lanes.feed(levels);
    return header_lanes.fold() ^ std::rotl(level_lanes.fold(), 17);
}

std::uint64_t encoded_size(const PhaseHVec& record) noexcept { return kHeaderBytes + 2 * record.phases.size(); }

void encode(const PhaseHVec& record, std::byte* out) noexcept {
    std::memset(out, 0, kHeaderBytes);
    std::memcpy(out, kMagic, sizeof kMagic);
    std::memcpy(out + 4, &kFormatVersion, 4);
    std::memcpy(out + 8, &record.dim, 8);
    std::memcpy(out + 16, &record.n, 4);
    const std::size_t level_bytes = 2 * static_cast<std::size_t>(record.phases.size());
    if (level_bytes != 0) std::memcpy(out + kHeaderBytes, record.phases.data(), level_bytes);
    const std::uint64_t checksum = level_checksum({out, 24}, {out + kHeaderBytes, level_bytes});
    std::memcpy(out + 24, &checksum, 8);
}

Expected<PhaseHVec, std::string> decode(std::span<const std::byte> data) {
    if (data.size() < 4 || std::memcmp(data.data(), kMagic, 4) != 0) {
        return unexpected(std::string("not an encoded PhaseHVec (wrong magic bytes)"));
    }
    if (data.size() < kHeaderBytes) {
        return unexpected("truncated PhaseHVec encoding: " + std::to_string(data.size()) +
                          " bytes, the header alone has " + std::to_string(kHeaderBytes));
    }
    const std::byte* p = data.data();
    const std::uint32_t version = read_u32(p + 4);
    if (version != kFormatVersion) {
        return unexpected("unsupported PhaseHVec encoding version " + std::to_string(version) +
                          " (this library reads " + std::to_string(kFormatVersion) + ")");
    }
    const std::uint64_t dim = read_u64(p + 8);
    const std::uint32_t n = read_u32(p + 16);
    const std::uint64_t level_bytes = data.size() - kHeaderBytes;
    if (dim > level_bytes / 2 || level_bytes != 2 * dim) {
        const std::string needed = dim <= (UINT64_MAX - kHeaderBytes) / 2 ? std::to_string(kHeaderBytes + 2 * dim)
                                                                          : "more than 2^64";
        return unexpected("PhaseHVec encoding of dim " + std::to_string(dim) + " needs " + needed + " bytes, got " +
                          std::to_string(data.size()));
    }
    if (read_u32(p + 20) != 0 || level_checksum({p, 24}, {p + kHeaderBytes, level_bytes}) != read_u64(p + 24)) {
        return unexpected(std::string("corrupted PhaseHVec encoding (checksum mismatch)"));
    }
    if (n < kMinResolution || n > kMaxResolution) {
        return unexpected("corrupted PhaseHVec encoding: n = " + std::to_string(n) + " is outside 2..=65536");
    }
    PhaseHVec record{dim, n, PhaseArray::allocate(dim)};
    if (dim != 0) std::memcpy(record.phases.data(), p + kHeaderBytes, 2 * dim);
    if (const auto bad = first_bad_level(record.phases.data(), dim, n)) {
        return unexpected("corrupted PhaseHVec encoding: level " + std::to_string(record.phases.data()[*bad]) +
                          " at position " + std::to_string(*bad) + " is not below n = " + std::to_string(n));
    }
    return record;
}

namespace {

// Whether any of `count` 16-bit values exceeds `limit`, without a branch per
// value: the saturating excess max(v - limit, 0) ORed together, which
// baseline SSE2 does eight values per instruction (psubusw, por); a plain
// maximum of unsigned 16-bit values has no SSE2 instruction and costs about
// twenty times as much there.
bool any_above(const std::uint16_t* values, std::size_t count, std::uint16_t limit) noexcept {
    std::uint16_t excess = 0;
    for (std::size_t i = 0; i < count; ++i) {
        excess |= static_cast<std::uint16_t>(values[i] > limit ? values[i] - limit : 0);
    }
    return excess != 0;
}

}  // namespace

std::optional<std::uint64_t> first_bad_level(const std::uint16_t* levels, std::uint64_t count,
                                             std::uint32_t n) noexcept {
    if (n > 0xFFFF) return std::nullopt;  // every 16-bit level is below 65536
    // A branch-free test per block keeps the common all-good case at memory speed.
    constexpr std::uint64_t kBlock = 4096;
    for (std::uint64_t first = 0; first < count; first += kBlock) {
        const std::uint64_t end = first + kBlock < count ? first + kBlock : count;
        if (!any_above(levels + first, static_cast<std::size_t>(end - first), static_cast<std::uint16_t>(n - 1))) {
            continue;
        }
        for (std::uint64_t i = first; i < end; ++i) {
            if (levels[i] >= n) return i;
        }
    }
    return std::nullopt;
}

namespace {

// Block by block: a copy into an aligned local block (so the compiler need not
// fear that it overlaps the output; 16-bit items go straight to the output),
// then one branch-free pass that narrows and keeps the largest value, widened
// so that a negative integer becomes a huge one and one comparison checks both
// ends. Only a block holding a bad value is searched again for the first one.
template <class T>
std::optional<std::uint64_t> narrow_items(const std::byte* items, std::uint64_t count, std::uint32_t n,
                                          std::uint16_t* out) noexcept {
    using Wide = std::conditional_t<(sizeof(T) <= 4), std::uint32_t, std::uint64_t>;
    constexpr bool kSameSize = sizeof(T) == sizeof(std::uint16_t);
    constexpr std::uint64_t kBlock = 2048;
    alignas(64) T block[kSameSize ? 1 : kBlock];
    for (std::uint64_t first = 0; first < count; first += kBlock) {
        const std::size_t length = static_cast<std::size_t>(count - first < kBlock ? count - first : kBlock);
        std::uint16_t* to = out + first;
        const auto item = [&](std::size_t i) {
            if constexpr (kSameSize) {
                return static_cast<Wide>(static_cast<T>(to[i]));
            } else {
                return static_cast<Wide>(block[i]);
            }
        };
        bool bad = false;
        if constexpr (kSameSize) {
            // A signed item is negative exactly when its top bit is set, so
            // as unsigned 16 bits it must stay below 32768 as well as n.
            std::memcpy(to, items + first * sizeof(T), length * sizeof(T));
            const Wide limit = std::min<Wide>(n - 1, std::is_signed_v<T> ? 0x7FFF : 0xFFFF);
            bad = any_above(to, length, static_cast<std::uint16_t>(limit));
        } else {
            std::memcpy(block, items + first * sizeof(T), length * sizeof(T));
            Wide highest = 0;
            for (std::size_t i = 0; i < length; ++i) {
                highest = item(i) > highest ? item(i) : highest;
                to[i] = static_cast<std::uint16_t>(item(i));
            }
            bad = highest >= n;
        }
        if (!bad) continue;
        for (std::size_t i = 0;; ++i) {
            if (item(i) >= n) return first + i;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> narrow_levels(const std::byte* items, LevelItem item, std::uint64_t count,
                                           std::uint32_t n, std::uint16_t* out) noexcept {
    switch (item) {
        case LevelItem::i8: return narrow_items<std::int8_t>(items, count, n, out);
        case LevelItem::u8: return narrow_items<std::uint8_t>(items, count, n, out);
        case LevelItem::i16: return narrow_items<std::int16_t>(items, count, n, out);
        case LevelItem::u16: return narrow_items<std::uint16_t>(items, count, n, out);
        case LevelItem::i32: return narrow_items<std::int32_t>(items, count, n, out);
        case LevelItem::u32: return narrow_items<std::uint32_t>(items, count, n, out);
        case LevelItem::i64: return narrow_items<std::int64_t>(items, count, n, out);
        case LevelItem::u64: return narrow_items<std::uint64_t>(items, count, n, out);
    }
    return std::nullopt;
}

PhaseHVec rotate(const PhaseHVec& record, std::uint64_t shift) {
    const std::uint64_t dim = record.phases.size();
    PhaseHVec result{record.dim, record.n, PhaseArray::allocate(dim)};
    if (dim == 0) return result;
    // result[(i + shift) mod dim] = levels[i]: the last `shift` levels lead.
    const std::uint16_t* from = record.phases.data();
    std::uint16_t* to = result.phases.data();
    std::memcpy(to, from + (dim - shift), 2 * static_cast<std::size_t>(shift));
    std::memcpy(to + shift, from, 2 * static_cast<std::size_t>(dim - shift));
    return result;
}

}  // namespace verrakin
