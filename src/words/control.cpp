#include "core/integer.hpp"
#include "core/tables.hpp"
#include "words/builtins.hpp"

// Each word takes the lists it runs before it touches the stack, and says
// what to run; so the lists it runs may close new lists or start other
// loops freely.
namespace forth::builtin {

namespace {

void set_up_loop(Context& ctx, double stop) {
    ctx.loop_body = ctx.quotation;
    push(ctx, stop);
}

// iftrue and iffalse: the quotation, when the flag they take is non-zero,
// or zero.
template <bool when>
Entry run_if(Context& ctx) {
    TokenList list = ctx.quotation;
    if ((pop(ctx) != 0) != when) return {};
    return Entry::once(std::move(list));
}

}  // namespace

// A count that is NaN or out of the 32-bit range makes no passes.
Entry times(Context& ctx) {
    TokenList body = ctx.quotation;
    const std::int32_t passes = truncate_to_int32(pop(ctx)).value_or(0);
    if (passes <= 0) return {};
    return Entry::times(std::move(body), passes);
}

Entry iftrue(Context& ctx) { return run_if<true>(ctx); }

Entry iffalse(Context& ctx) { return run_if<false>(ctx); }

void while_loop(Context& ctx) { set_up_loop(ctx, 0); }

void until_loop(Context& ctx) { set_up_loop(ctx, 1); }

Entry repeat(Context& ctx) {
    TokenList body = ctx.loop_body;
    TokenList condition = ctx.quotation;
    const double stop = pop(ctx);
    return Entry::repeat(std::move(body), std::move(condition), stop);
}

}  // namespace forth::builtin
