#pragma once

#include "core/context.hpp"

namespace forth {

// Adds .buffer, .input, clear, included and bye, in that order.
void add_shell_words(Context& ctx);

// Evaluates each self-test line, reporting and skipping a line that fails.
void run_self_test(Context& ctx);

}  // namespace forth
