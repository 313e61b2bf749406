#include <cstdint>

#include "core/builtins.hpp"
#include "core/operations.hpp"
#include "words/integer.hpp"

namespace forth::builtin {

using namespace operation;

void add(Context& ctx) { binary(ctx, Add{}); }
void subtract(Context& ctx) { binary(ctx, Subtract{}); }
void multiply(Context& ctx) { binary(ctx, Multiply{}); }
void divide(Context& ctx) { binary(ctx, Divide{}); }

void mod(Context& ctx) { binary(ctx, Remainder{}); }

// In place: the remainder where the dividend was, the quotient over the divisor.
void slash_mod(Context& ctx) {
    if (const std::size_t size = ctx.stack.size(); size >= 2) {
        double& x = ctx.stack[size - 2];
        double& y = ctx.stack[size - 1];
        if (Remainder::defined(x, y)) {
            const std::int64_t dividend = static_cast<std::int32_t>(x);
            const std::int64_t divisor = static_cast<std::int32_t>(y);
            x = static_cast<double>(dividend % divisor);
            y = static_cast<double>(dividend / divisor);
            return;
        }
    }
    // Fails as taking the operands one by one and checking them would.
    const double y = pop(ctx);
    const double x = pop(ctx);
    Remainder::fail(x, y);
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
