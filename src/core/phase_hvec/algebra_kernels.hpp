// The kernels of bind and unbind, one per instruction-set level, all giving the
// bits of the scalar reference; algebra.cpp dispatches.
#pragma once

#include <cstdint>

namespace verrakin::detail {

void add_levels_scalar(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out, std::uint64_t m,
                       std::uint32_t n) noexcept;
void add_levels_avx2(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out, std::uint64_t m,
                     std::uint32_t n) noexcept;
void add_levels_avx512(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out, std::uint64_t m,
                       std::uint32_t n) noexcept;
void subtract_levels_scalar(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out, std::uint64_t m,
                            std::uint32_t n) noexcept;
void subtract_levels_avx2(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out, std::uint64_t m,
                          std::uint32_t n) noexcept;
void subtract_levels_avx512(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out,
                            std::uint64_t m, std::uint32_t n) noexcept;

}  // namespace verrakin::detail
