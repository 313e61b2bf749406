#include "words/integer.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace forth {

std::optional<std::int32_t> truncate_to_int32(double value) {
    const double truncated = std::trunc(value);
    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    if (!(truncated >= lowest && truncated <= highest)) return std::nullopt;  // NaN fails both tests
    return static_cast<std::int32_t>(truncated);
}

std::int32_t to_int32(double value) {
    const auto integer = truncate_to_int32(value);
    if (!integer) throw std::out_of_range("integer out of range");
    return *integer;
}

}  // namespace forth
