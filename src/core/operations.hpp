#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/context.hpp"
#include "core/machine.hpp"
#include "words/integer.hpp"

// The built-in words the evaluator also runs inline, defined once here for
// both: the vocabulary registers functions that call these, and compiled
// token lists run them without a call.
namespace forth::operation {

// An operation defined for some operands only says which (defined) and
// throws the word's error for the others (fail).
template <typename Operation>
concept Partial = requires(double x, double y) {
    { Operation::defined(x, y) } -> std::same_as<bool>;
    Operation::fail(x, y);
};

// x and y under `operation`, or its error.
template <typename Operation>
double apply(Operation operation, double x, double y) {
    if constexpr (Partial<Operation>) {
        if (!Operation::defined(x, y)) [[unlikely]] Operation::fail(x, y);
    }
    return operation(x, y);
}

// Two-operand words pop the top (y) first, then the value below it (x), so a
// word run on a one-value stack loses that value before it fails, and one
// that fails on its operands has taken both. The usual case works in place.
template <typename Operation>
void binary(Context& ctx, Operation operation) {
    std::vector<double>& stack = ctx.stack;
    if (stack.size() >= 2) {
        const double y = stack.back();
        stack.pop_back();
        if constexpr (Partial<Operation>) {
            if (!Operation::defined(stack.back(), y)) [[unlikely]] Operation::fail(pop(ctx), y);
        }
        stack.back() = operation(stack.back(), y);
        return;
    }
    const double y = pop(ctx);
    const double x = pop(ctx);
    push(ctx, apply(operation, x, y));
}

template <typename Operation>
[[gnu::cold, gnu::noinline]] void push_then_binary(Context& ctx, Operation operation, double y) {
    push(ctx, y);
    binary(ctx, operation);
}

// As pushing y and then running the two-operand word.
template <typename Operation>
void binary_with(Context& ctx, Operation operation, double y) {
    if (ctx.stack.empty()) [[unlikely]] {
        push_then_binary(ctx, operation, y);
        return;
    }
    if constexpr (Partial<Operation>) {
        if (!Operation::defined(ctx.stack.back(), y)) [[unlikely]] Operation::fail(pop(ctx), y);
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

// mod, and the checks of /mod: both operands truncated to 32-bit integers,
// divided in 64 bits so that -2147483648 by -1 is exact.
struct Remainder {
    static bool defined(double x, double y) { return fits_int32(x) && fits_int32(y) && static_cast<std::int32_t>(y) != 0; }
    [[noreturn, gnu::cold, gnu::noinline]] static void fail(double x, double y) {
        to_int32(x);
        to_int32(y);
        throw std::domain_error("division by zero");
    }
    double operator()(double x, double y) const {
        return static_cast<double>(std::int64_t{static_cast<std::int32_t>(x)} % static_cast<std::int32_t>(y));
    }
};

struct Negate { double operator()(double x) const { return -x; } };
struct Abs { double operator()(double x) const { return x < 0 ? -x : x; } };
struct OnePlus { double operator()(double x) const { return x + 1; } };
struct OneMinus { double operator()(double x) const { return x - 1; } };
struct Not { double operator()(double x) const { return flag(x == 0); } };

// What the variable sigils do to a variable with the value x they take.
struct Store { void operator()(double& variable, double x) const { variable = x; } };
struct AddTo { void operator()(double& variable, double x) const { variable = x + variable; } };
struct SubtractFrom { void operator()(double& variable, double x) const { variable = variable - x; } };

// iftrue and iffalse: run `list` when the flag they take is non-zero, or
// zero. True when it runs; `run` says how.
template <bool when, typename List = TokenList, typename Run = void (*)(Context&, const TokenList&)>
bool run_if(Context& ctx, const List& list, Run run = run_list) {
    if ((pop(ctx) != 0) != when) return false;
    run(ctx, list);
    return true;
}

// The rearranging words check the depth first and name themselves in the
// error, leaving the stack untouched; drop fails as pop does.
inline void require(const Context& ctx, std::size_t needed, const char* message) {
    if (ctx.stack.size() < needed) [[unlikely]] underflow(message);
}

inline void drop(Context& ctx) { pop(ctx); }

// dup's check, made also where a word works on a copy of the top.
inline void require_top(const Context& ctx) { require(ctx, 1, "Stack underflow in dup"); }

// What a word copies onto the stack: nothing, the top (dup) or the value
// below it (over).
enum class Copy : std::uint8_t { none, top, second };

// The value that dup or over copies, checked as they check it.
template <Copy copy>
double copied(const Context& ctx) {
    static_assert(copy != Copy::none);
    if constexpr (copy == Copy::top) {
        require_top(ctx);
        return ctx.stack.back();
    } else {
        require(ctx, 2, "Stack underflow in over");
        return ctx.stack[ctx.stack.size() - 2];
    }
}

inline void dup(Context& ctx) { push(ctx, copied<Copy::top>(ctx)); }

inline void over(Context& ctx) { push(ctx, copied<Copy::second>(ctx)); }

inline void swap(Context& ctx) {
    require(ctx, 2, "Stack underflow in swap");
    std::swap(ctx.stack[ctx.stack.size() - 2], ctx.stack.back());
}

}  // namespace forth::operation
