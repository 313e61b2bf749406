#include <cstdint>

#include "core/builtins.hpp"
#include "words/integer.hpp"

// Two-operand words pop the top (y) first, then the value below it (x), so a
// word run on a one-value stack loses that value before it fails.
namespace forth::builtin {

namespace {

template <typename Operation>
void binary(Context& ctx, Operation operation) {
    const double y = pop(ctx);
    const double x = pop(ctx);
    push(ctx, operation(x, y));
}

template <typename Operation>
void unary(Context& ctx, Operation operation) {
    push(ctx, operation(pop(ctx)));
}

double flag(bool condition) { return condition ? 1.0 : 0.0; }

struct Division {
    std::int64_t quotient;
    std::int64_t remainder;
};

// In 64 bits, so that -2147483648 divided by -1 is exact.
Division divide_integers(Context& ctx) {
    const double y = pop(ctx);
    const double x = pop(ctx);
    const std::int64_t dividend = to_int32(x);
    const std::int64_t divisor = to_int32(y);
    if (divisor == 0) throw std::domain_error("division by zero");
    return {dividend / divisor, dividend % divisor};
}

}  // namespace

void add(Context& ctx) { binary(ctx, [](double x, double y) { return x + y; }); }
void subtract(Context& ctx) { binary(ctx, [](double x, double y) { return x - y; }); }
void multiply(Context& ctx) { binary(ctx, [](double x, double y) { return x * y; }); }
void divide(Context& ctx) { binary(ctx, [](double x, double y) { return x / y; }); }

void mod(Context& ctx) {
    const Division result = divide_integers(ctx);
    push(ctx, static_cast<double>(result.remainder));
}

void slash_mod(Context& ctx) {
    const Division result = divide_integers(ctx);
    push(ctx, static_cast<double>(result.remainder));
    push(ctx, static_cast<double>(result.quotient));
}

// Plain comparisons rather than the library functions: the sign of zero and
// of NaN must come out exactly as these tests give them.
void negate(Context& ctx) { unary(ctx, [](double x) { return -x; }); }
void abs(Context& ctx) { unary(ctx, [](double x) { return x < 0 ? -x : x; }); }
void min(Context& ctx) { binary(ctx, [](double x, double y) { return x < y ? x : y; }); }
void max(Context& ctx) { binary(ctx, [](double x, double y) { return x > y ? x : y; }); }
void one_plus(Context& ctx) { unary(ctx, [](double x) { return x + 1; }); }
void one_minus(Context& ctx) { unary(ctx, [](double x) { return x - 1; }); }

void less(Context& ctx) { binary(ctx, [](double x, double y) { return flag(x < y); }); }
void less_equal(Context& ctx) { binary(ctx, [](double x, double y) { return flag(x <= y); }); }
void greater(Context& ctx) { binary(ctx, [](double x, double y) { return flag(x > y); }); }
void greater_equal(Context& ctx) { binary(ctx, [](double x, double y) { return flag(x >= y); }); }
void equal(Context& ctx) { binary(ctx, [](double x, double y) { return flag(x == y); }); }
void not_equal(Context& ctx) { binary(ctx, [](double x, double y) { return flag(x != y); }); }

void logical_and(Context& ctx) { binary(ctx, [](double x, double y) { return flag(x != 0 && y != 0); }); }
void logical_or(Context& ctx) { binary(ctx, [](double x, double y) { return flag(x != 0 || y != 0); }); }
void logical_not(Context& ctx) { unary(ctx, [](double x) { return flag(x == 0); }); }

}  // namespace forth::builtin
