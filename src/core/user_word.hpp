#pragma once

#include <functional>

#include "core/context.hpp"

namespace forth {

// A word defined in the language: a named token list, resolved anew at every
// call. The evaluator runs a call of one itself; native code that calls one
// runs its body through the evaluator, which holds the body for the whole
// call, so the word may replace itself.
struct UserWord {
    TokenList body;

    void operator()(Context& ctx) const {
        if (!ctx.engine) throw std::bad_function_call();  // nothing ever ran in `ctx`
        ctx.engine->run(ctx, body);
    }
};

}  // namespace forth
