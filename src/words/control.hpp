#pragma once

#include "core/interpreter.hpp"
#include "words/integer.hpp"

// The counted and conditional loops, with a hook called before every pass.
// The vocabulary passes a hook that does nothing; a fuzzing harness passes
// one that bounds the work a single input may ask for.
namespace forth {

template <typename OnPass>
void times_loop(Context& ctx, OnPass on_pass) {
    const TokenList body = ctx.quotation;
    const std::int32_t passes = truncate_to_int32(pop(ctx)).value_or(0);
    for (std::int32_t index = 0; index < passes; ++index) {
        on_pass();
        ctx.variables["i"] = index;
        run(ctx, body);
    }
}

template <typename OnPass>
void repeat_loop(Context& ctx, OnPass on_pass) {
    const TokenList body = ctx.loop_body;
    const TokenList condition = ctx.quotation;
    const double stop = pop(ctx);
    do {
        on_pass();
        run(ctx, body);
        run(ctx, condition);
    } while (pop(ctx) != stop);  // IEEE: never equal when either is NaN
}

}  // namespace forth
