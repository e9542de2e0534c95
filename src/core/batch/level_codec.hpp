// Levels in and out of a record: the byte format, the checksum that guards it,
// rotation, and the checks every level coming from outside passes.
//
// The byte format, all little-endian:
//   0  magic "VKPH"        4 bytes
//   4  format version      u32 (1)
//   8  dim                 u64
//  16  n                   u32
//  20  reserved            u32 (0)
//  24  checksum            u64 of bytes 0..23 and the levels
//  32  levels              dim x u16
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "../phase_hvec/record.hpp"

namespace verrakin {

inline constexpr std::size_t kHeaderBytes = 32;
inline constexpr std::uint32_t kFormatVersion = 1;

/// The size of a record's encoding.
std::uint64_t encoded_size(const PhaseHVec& record) noexcept;

/// Writes the encoding of `record` into `out` (encoded_size bytes).
void encode(const PhaseHVec& record, std::byte* out) noexcept;

/// A record from an encoding, or the reason it is not one (a ValueError text).
Expected<PhaseHVec, std::string> decode(std::span<const std::byte> data);

/// The checksum of the format: four independent multiply-rotate lanes over
/// 8-byte words, folded at the end. Not cryptographic; it catches truncation,
/// flipped bits and swapped blocks.
std::uint64_t level_checksum(std::span<const std::byte> header, std::span<const std::byte> levels) noexcept;

/// The position of the first level at or above n, if any.
std::optional<std::uint64_t> first_bad_level(const std::uint16_t* levels, std::uint64_t count,
                                             std::uint32_t n) noexcept;

/// The integer types a buffer of levels may hold.
enum class LevelItem { i8, u8, i16, u16, i32, u32, i64, u64 };

/// Copies `count` integers of type `item` (host byte order, unaligned) at
/// `items` into `out` as levels. Returns the position of the first integer
/// that is not a level below n (then `out` holds garbage), or nothing. The
/// output must not overlap the items.
std::optional<std::uint64_t> narrow_levels(const std::byte* items, LevelItem item, std::uint64_t count,
                                           std::uint32_t n, std::uint16_t* out) noexcept;

/// The record with every phase moved from i to (i + shift) mod dim; shift < dim.
PhaseHVec rotate(const PhaseHVec& record, std::uint64_t shift);

}  // namespace verrakin
