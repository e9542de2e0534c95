#include "angles.hpp"

namespace verrakin::detail {

// Filled by the C library's atan when the library loads.
const std::array<double, 65> atan_table = [] {
    std::array<double, 65> values{};
    for (int j = 0; j <= 64; ++j) values[j] = std::atan(j * 0.015625);
    return values;
}();

}  // namespace verrakin::detail
