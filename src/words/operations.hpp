#pragma once

#include <cstdint>

#include "core/integer.hpp"

// What the bodies in words/vocabulary.def are written with.
namespace forth::operation {

// Truth as the comparisons and logic words leave it.
constexpr double flag(bool condition) { return condition ? 1.0 : 0.0; }

// mod and /mod: both operands truncated to 32-bit integers. A divisor of
// -1 is taken apart, so that -2147483648 by -1 is exact: 32-bit division is
// the quicker, and programs that take numbers apart digit by digit wait on it.
inline double remainder(double x, double y) {
    const auto divisor = static_cast<std::int32_t>(y);
    return divisor == -1 ? 0.0 : static_cast<double>(static_cast<std::int32_t>(x) % divisor);
}
inline double quotient(double x, double y) {
    const auto dividend = static_cast<std::int32_t>(x);
    const auto divisor = static_cast<std::int32_t>(y);
    return static_cast<double>(divisor == -1 ? -std::int64_t{dividend} : dividend / divisor);
}

// The operands a two-operand word is defined for, and how it fails on the
// others, having taken both. `holds_known` is `holds` for a y that
// `operand_holds`.
struct total {
    static bool holds(double, double) { return true; }
    static bool operand_holds(double) { return true; }
    static bool holds_known(double, double) { return true; }
    [[noreturn]] static void fail(double, double) { __builtin_unreachable(); }  // holds everywhere
};
struct divisible {
    static bool holds(double x, double y) {
        return fits_int32(x) && fits_int32(y) && static_cast<std::int32_t>(y) != 0;
    }
    // A divisor written in the code is checked once, as it is compiled, and
    // then need not be; -1 is left to the word, which takes it apart.
    static bool operand_holds(double y) {
        return fits_int32(y) && static_cast<std::int32_t>(y) != 0 && static_cast<std::int32_t>(y) != -1;
    }
    static bool holds_known(double x, double y) {
        if (!operand_holds(y)) __builtin_unreachable();
        return fits_int32(x);
    }
    [[noreturn, gnu::cold]] static void fail(double x, double y);
};

}  // namespace forth::operation
