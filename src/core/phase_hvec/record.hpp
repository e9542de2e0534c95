// The PhaseHVec record: `dim` phase levels at resolution `n`.
//
// Invariants, established by every operation that makes a record:
//   2 <= n <= 65536; phases holds exactly dim levels; every level is below n.
// A record never changes after it is made; operations return new records.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <variant>

#include "../cancel.hpp"
#include "../expected.hpp"

namespace verrakin {

inline constexpr std::uint32_t kMinResolution = 2;
inline constexpr std::uint32_t kMaxResolution = 65536;

/// The error of an algebra or resonator operation: one fixed message.
struct PhaseError {
    const char* message;
};

/// The failure of an operation that its caller may also stop.
using PhaseFailure = std::variant<PhaseError, Cancelled>;

namespace detail {
/// Frees an array of levels, unless it belongs to another record (a view).
struct FreeLevels {
    bool owns = true;
    void operator()(std::uint16_t* p) const noexcept;
};
}  // namespace detail

/// An owned, contiguous array of 16-bit phase levels, allocated at its exact size.
class PhaseArray {
public:
    PhaseArray() = default;

    /// Uninitialised storage for `count` levels. Throws OutOfMemory when memory
    /// cannot be obtained, and a "capacity overflow" fatal error when count * 2
    /// bytes would exceed the largest allocation size.
    static PhaseArray allocate(std::uint64_t count);

    PhaseArray(PhaseArray&&) noexcept = default;
    PhaseArray& operator=(PhaseArray&&) noexcept = default;
    PhaseArray(const PhaseArray&) = delete;
    PhaseArray& operator=(const PhaseArray&) = delete;

    PhaseArray clone() const;

    /// An array that reads `count` levels at `data` in place and never frees
    /// them: the owner must outlive it and never change the levels.
    static PhaseArray view(const std::uint16_t* data, std::uint64_t count) noexcept;

    std::uint64_t size() const noexcept { return size_; }
    std::uint16_t* data() noexcept { return data_.get(); }
    const std::uint16_t* data() const noexcept { return data_.get(); }
    std::span<std::uint16_t> span() noexcept { return {data_.get(), static_cast<std::size_t>(size_)}; }
    std::span<const std::uint16_t> span() const noexcept {
        return {data_.get(), static_cast<std::size_t>(size_)};
    }

private:
    std::unique_ptr<std::uint16_t[], detail::FreeLevels> data_;
    std::uint64_t size_ = 0;
};

struct PhaseHVec {
    std::uint64_t dim = 0;
    std::uint32_t n = 0;
    PhaseArray phases;

    PhaseHVec copy() const { return {dim, n, phases.clone()}; }
    /// The same record reading this one's levels in place (see PhaseArray::view).
    PhaseHVec view() const noexcept { return {dim, n, PhaseArray::view(phases.data(), phases.size())}; }
};

}  // namespace verrakin
