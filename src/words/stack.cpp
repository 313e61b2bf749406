#include <algorithm>

#include "core/builtins.hpp"
#include "core/operations.hpp"

// The rearranging words check the depth first and name themselves in the
// error, leaving the stack untouched; drop fails as pop does. The commonest
// are defined with the operations the evaluator runs inline.
namespace forth::builtin {

using operation::require;

void depth(Context& ctx) { push(ctx, static_cast<double>(ctx.stack.size())); }

void drop(Context& ctx) { operation::drop(ctx); }

void dup(Context& ctx) { operation::dup(ctx); }

void two_dup(Context& ctx) {
    require(ctx, 2, "Stack underflow in 2dup");
    const double below = ctx.stack[ctx.stack.size() - 2];
    const double top = ctx.stack.back();
    push(ctx, below);
    push(ctx, top);
}

void over(Context& ctx) { operation::over(ctx); }

void swap(Context& ctx) { operation::swap(ctx); }

void rot(Context& ctx) {
    require(ctx, 3, "Stack underflow in rot");
    std::rotate(ctx.stack.end() - 3, ctx.stack.end() - 2, ctx.stack.end());
}

void minus_rot(Context& ctx) {
    require(ctx, 3, "Stack underflow in -rot");
    std::rotate(ctx.stack.end() - 3, ctx.stack.end() - 1, ctx.stack.end());
}

}  // namespace forth::builtin
