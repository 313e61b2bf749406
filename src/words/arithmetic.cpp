#include <cstdint>

#include "core/builtins.hpp"
#include "core/operations.hpp"
#include "words/integer.hpp"

namespace forth::builtin {

namespace {

struct Division {
    std::int64_t quotient;
    std::int64_t remainder;
};

Division divide_integers(Context& ctx) {
    const double y = pop(ctx);
    const double x = pop(ctx);
    if (!operation::Remainder::defined(x, y)) operation::Remainder::fail(x, y);
    const std::int64_t dividend = static_cast<std::int32_t>(x);
    const std::int64_t divisor = static_cast<std::int32_t>(y);
    return {dividend / divisor, dividend % divisor};
}

}  // namespace

using namespace operation;

void add(Context& ctx) { binary(ctx, Add{}); }
void subtract(Context& ctx) { binary(ctx, Subtract{}); }
void multiply(Context& ctx) { binary(ctx, Multiply{}); }
void divide(Context& ctx) { binary(ctx, Divide{}); }

void mod(Context& ctx) { binary(ctx, Remainder{}); }

void slash_mod(Context& ctx) {
    const Division result = divide_integers(ctx);
    push(ctx, static_cast<double>(result.remainder));
    push(ctx, static_cast<double>(result.quotient));
}

void negate(Context& ctx) { unary(ctx, Negate{}); }
void abs(Context& ctx) { unary(ctx, Abs{}); }
void min(Context& ctx) { binary(ctx, Min{}); }
void max(Context& ctx) { binary(ctx, Max{}); }
void one_plus(Context& ctx) { unary(ctx, OnePlus{}); }
void one_minus(Context& ctx) { unary(ctx, OneMinus{}); }

void less(Context& ctx) { binary(ctx, Less{}); }
void less_equal(Context& ctx) { binary(ctx, LessEqual{}); }
void greater(Context& ctx) { binary(ctx, Greater{}); }
void greater_equal(Context& ctx) { binary(ctx, GreaterEqual{}); }
void equal(Context& ctx) { binary(ctx, Equal{}); }
void not_equal(Context& ctx) { binary(ctx, NotEqual{}); }

void logical_and(Context& ctx) { binary(ctx, And{}); }
void logical_or(Context& ctx) { binary(ctx, Or{}); }
void logical_not(Context& ctx) { unary(ctx, Not{}); }

}  // namespace forth::builtin
