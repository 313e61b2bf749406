#pragma once

#include <cstdint>
#include <optional>

namespace forth {

// `value` truncated toward zero, if the result fits a 32-bit signed integer;
// nothing for NaN, infinities and values out of that range.
std::optional<std::int32_t> truncate_to_int32(double value);

// As truncate_to_int32, but a value that does not fit is an error:
// std::out_of_range "integer out of range".
std::int32_t to_int32(double value);

}  // namespace forth
