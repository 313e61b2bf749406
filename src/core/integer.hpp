#pragma once

#include <cstdint>
#include <optional>

namespace forth {

// True when `value` truncated toward zero fits a 32-bit signed integer:
// when it lies strictly between the integers around that range. NaN never
// does; the conversion of one that does truncates toward zero.
inline bool fits_int32(double value) { return value > -2147483649.0 && value < 2147483648.0; }

// `value` truncated toward zero, if it fits; nothing for NaN, infinities
// and values out of the range.
inline std::optional<std::int32_t> truncate_to_int32(double value) {
    if (!fits_int32(value)) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

[[noreturn]] void integer_out_of_range();

// As truncate_to_int32, but a value that does not fit is an error:
// std::out_of_range "integer out of range".
inline std::int32_t to_int32(double value) {
    if (!fits_int32(value)) integer_out_of_range();
    return static_cast<std::int32_t>(value);
}

}  // namespace forth
