#pragma once

#include <string>

#include "core/context.hpp"

// What the evaluator offers the handlers of compiled steps.
namespace forth {

// Pushes a frame that runs `list`: the one place where depth is bounded
// and where an interrupt stops runaway recursion.
void enter_list(Context& ctx, TokenList list);

// Calls a built-in control word so that the list it runs is left to the
// evaluator as a frame.
void call_control(Context& ctx, void (*word)(Context&));

// Pushes the value of `token`'s leading number; throws for a token with
// none: "unknown word", or "stod" when it is out of range.
void push_number(Context& ctx, const std::string& token);

}  // namespace forth
