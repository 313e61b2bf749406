#include <algorithm>

#include "core/builtins.hpp"

// The rearranging words check the depth first and name themselves in the
// error, leaving the stack untouched; drop fails as pop does.
namespace forth::builtin {

namespace {

void require(const Context& ctx, std::size_t needed, const char* message) {
    if (ctx.stack.size() < needed) throw std::out_of_range(message);
}

}  // namespace

void depth(Context& ctx) { push(ctx, static_cast<double>(ctx.stack.size())); }

void drop(Context& ctx) { pop(ctx); }

void dup(Context& ctx) {
    require(ctx, 1, "Stack underflow in dup");
    push(ctx, ctx.stack.back());
}

void two_dup(Context& ctx) {
    require(ctx, 2, "Stack underflow in 2dup");
    const double below = ctx.stack[ctx.stack.size() - 2];
    const double top = ctx.stack.back();
    push(ctx, below);
    push(ctx, top);
}

void over(Context& ctx) {
    require(ctx, 2, "Stack underflow in over");
    push(ctx, ctx.stack[ctx.stack.size() - 2]);
}

void swap(Context& ctx) {
    require(ctx, 2, "Stack underflow in swap");
    std::swap(ctx.stack[ctx.stack.size() - 2], ctx.stack.back());
}

void rot(Context& ctx) {
    require(ctx, 3, "Stack underflow in rot");
    std::rotate(ctx.stack.end() - 3, ctx.stack.end() - 2, ctx.stack.end());
}

void minus_rot(Context& ctx) {
    require(ctx, 3, "Stack underflow in -rot");
    std::rotate(ctx.stack.end() - 3, ctx.stack.end() - 1, ctx.stack.end());
}

}  // namespace forth::builtin
