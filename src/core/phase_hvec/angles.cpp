#include "angles.hpp"

namespace verrakin::detail {

// Filled when the library loads; atan2(j / 64, 1) is atan(j / 64), j / 64 being exact.
const std::array<double, 65> atan_table = [] {
    std::array<double, 65> values{};
    for (int j = 0; j <= 64; ++j) values[j] = maths::atan2(j * 0.015625, 1.0);
    return values;
}();

}  // namespace verrakin::detail
