#pragma once

#include <cstddef>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/context.hpp"
#include "core/machine.hpp"

// The built-in words the evaluator also runs inline, defined once here for
// both: the vocabulary registers functions that call these, and compiled
// token lists run them without a call.
namespace forth::operation {

// Two-operand words pop the top (y) first, then the value below it (x), so a
// word run on a one-value stack loses that value before it fails. The usual
// case works in place.
template <typename Operation>
void binary(Context& ctx, Operation operation) {
    std::vector<double>& stack = ctx.stack;
    if (stack.size() >= 2) {
        const double y = stack.back();
        stack.pop_back();
        stack.back() = operation(stack.back(), y);
        return;
    }
    const double y = pop(ctx);
    const double x = pop(ctx);
    push(ctx, operation(x, y));
}

// As pushing y and then running the two-operand word.
template <typename Operation>
void binary_with(Context& ctx, Operation operation, double y) {
    if (ctx.stack.empty()) {
        push(ctx, y);
        binary(ctx, operation);
        return;
    }
    ctx.stack.back() = operation(ctx.stack.back(), y);
}

template <typename Operation>
void unary(Context& ctx, Operation operation) {
    if (!ctx.stack.empty()) {
        ctx.stack.back() = operation(ctx.stack.back());
        return;
    }
    push(ctx, operation(pop(ctx)));  // pop reports the empty stack
}

inline double flag(bool condition) { return condition ? 1.0 : 0.0; }

// Plain comparisons rather than the library functions: the sign of zero and
// of NaN must come out exactly as these tests give them.
struct Add { double operator()(double x, double y) const { return x + y; } };
struct Subtract { double operator()(double x, double y) const { return x - y; } };
struct Multiply { double operator()(double x, double y) const { return x * y; } };
struct Divide { double operator()(double x, double y) const { return x / y; } };
struct Min { double operator()(double x, double y) const { return x < y ? x : y; } };
struct Max { double operator()(double x, double y) const { return x > y ? x : y; } };
struct Less { double operator()(double x, double y) const { return flag(x < y); } };
struct LessEqual { double operator()(double x, double y) const { return flag(x <= y); } };
struct Greater { double operator()(double x, double y) const { return flag(x > y); } };
struct GreaterEqual { double operator()(double x, double y) const { return flag(x >= y); } };
struct Equal { double operator()(double x, double y) const { return flag(x == y); } };
struct NotEqual { double operator()(double x, double y) const { return flag(x != y); } };
struct And { double operator()(double x, double y) const { return flag(x != 0 && y != 0); } };
struct Or { double operator()(double x, double y) const { return flag(x != 0 || y != 0); } };

struct Negate { double operator()(double x) const { return -x; } };
struct Abs { double operator()(double x) const { return x < 0 ? -x : x; } };
struct OnePlus { double operator()(double x) const { return x + 1; } };
struct OneMinus { double operator()(double x) const { return x - 1; } };
struct Not { double operator()(double x) const { return flag(x == 0); } };

// What the variable sigils do to a variable with the value x they take.
struct Store { void operator()(double& variable, double x) const { variable = x; } };
struct AddTo { void operator()(double& variable, double x) const { variable = x + variable; } };
struct SubtractFrom { void operator()(double& variable, double x) const { variable = variable - x; } };

// iftrue and iffalse: run `list` when the flag they take is non-zero, or zero.
template <bool when>
void run_if(Context& ctx, const TokenList& list) {
    if ((pop(ctx) != 0) == when) run_list(ctx, list);
}

// The rearranging words check the depth first and name themselves in the
// error, leaving the stack untouched; drop fails as pop does.
inline void require(const Context& ctx, std::size_t needed, const char* message) {
    if (ctx.stack.size() < needed) throw std::out_of_range(message);
}

inline void drop(Context& ctx) { pop(ctx); }

inline void dup(Context& ctx) {
    require(ctx, 1, "Stack underflow in dup");
    push(ctx, ctx.stack.back());
}

inline void over(Context& ctx) {
    require(ctx, 2, "Stack underflow in over");
    push(ctx, ctx.stack[ctx.stack.size() - 2]);
}

inline void swap(Context& ctx) {
    require(ctx, 2, "Stack underflow in swap");
    std::swap(ctx.stack[ctx.stack.size() - 2], ctx.stack.back());
}

}  // namespace forth::operation
