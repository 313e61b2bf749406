#include "core/builtins.hpp"
#include "core/interpreter.hpp"
#include "core/operations.hpp"
#include "words/integer.hpp"

// Each word takes the lists it runs before it touches the stack, so the
// lists it runs may close new lists or start other loops freely.
namespace forth::builtin {

namespace {

void set_up_loop(Context& ctx, double stop) {
    ctx.loop_body = ctx.quotation;
    push(ctx, stop);
}

}  // namespace

// A count that is NaN or out of the 32-bit range makes no passes.
void times(Context& ctx) {
    TokenList body = ctx.quotation;
    const std::int32_t passes = truncate_to_int32(pop(ctx)).value_or(0);
    if (passes > 0) call_times(ctx, std::move(body), passes);
}

void iftrue(Context& ctx) { operation::run_if<true>(ctx, ctx.quotation); }

void iffalse(Context& ctx) { operation::run_if<false>(ctx, ctx.quotation); }

void while_loop(Context& ctx) { set_up_loop(ctx, 0); }

void until_loop(Context& ctx) { set_up_loop(ctx, 1); }

void repeat(Context& ctx) {
    TokenList body = ctx.loop_body;
    TokenList condition = ctx.quotation;
    const double stop = pop(ctx);
    call_repeat(ctx, std::move(body), std::move(condition), stop);
}

}  // namespace forth::builtin
