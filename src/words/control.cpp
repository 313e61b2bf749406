#include "words/control.hpp"

#include "core/builtins.hpp"

// Each word copies the lists it runs before it touches the stack, so the
// lists it runs may close new lists or start other loops freely.
namespace forth::builtin {

namespace {

void no_hook() {}

void run_if(Context& ctx, bool (*test)(double)) {
    const TokenList body = ctx.quotation;
    if (test(pop(ctx))) run(ctx, body);
}

void set_up_loop(Context& ctx, double stop) {
    ctx.loop_body = ctx.quotation;
    push(ctx, stop);
}

}  // namespace

void times(Context& ctx) { times_loop(ctx, no_hook); }

void iftrue(Context& ctx) {
    run_if(ctx, [](double flag) { return flag != 0; });
}

void iffalse(Context& ctx) {
    run_if(ctx, [](double flag) { return flag == 0; });
}

void while_loop(Context& ctx) { set_up_loop(ctx, 0); }

void until_loop(Context& ctx) { set_up_loop(ctx, 1); }

void repeat(Context& ctx) { repeat_loop(ctx, no_hook); }

}  // namespace forth::builtin
