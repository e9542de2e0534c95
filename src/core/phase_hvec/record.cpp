#include "record.hpp"

#include <cstdlib>
#include <new>

#include "../fatal.hpp"

namespace verrakin {

void detail::FreeLevels::operator()(std::uint16_t* p) const noexcept {
    if (owns) std::free(p);
}

PhaseArray PhaseArray::allocate(std::uint64_t count) {
    // count * 2 bytes must stay within the largest allocation size, 2^63 - 1.
    if (count >= (std::uint64_t{1} << 62)) fatal_error("capacity overflow");
    PhaseArray array;
    if (count == 0) return array;
    const std::uint64_t bytes = count * sizeof(std::uint16_t);
    void* memory = std::malloc(static_cast<std::size_t>(bytes));
    if (memory == nullptr) throw OutOfMemory(bytes, count, "phase levels");
    array.data_.reset(static_cast<std::uint16_t*>(memory));
    array.size_ = count;
    return array;
}

PhaseArray PhaseArray::clone() const {
    PhaseArray copy = allocate(size_);
    if (size_ != 0) std::memcpy(copy.data(), data(), static_cast<std::size_t>(size_) * sizeof(std::uint16_t));
    return copy;
}

PhaseArray PhaseArray::view(const std::uint16_t* data, std::uint64_t count) noexcept {
    PhaseArray array;
    if (count == 0) return array;
    // Read only: every operation takes records by const reference.
    array.data_ = std::unique_ptr<std::uint16_t[], detail::FreeLevels>(const_cast<std::uint16_t*>(data),
                                                                       detail::FreeLevels{false});
    array.size_ = count;
    return array;
}

}  // namespace verrakin
