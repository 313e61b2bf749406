#pragma once

#include <ostream>

#include "core/context.hpp"

namespace forth {

// Adds .buffer, .input, clear, included and bye, in that order.
void add_shell_words(Context& ctx);

// Writes the three lines that open the interactive session, with the
// Context's counts of words, sigils and aliases; flushed.
void write_banner(std::ostream& out, const Context& ctx);

// Evaluates each self-test line, reporting and skipping a line that fails.
void run_self_test(Context& ctx);

}  // namespace forth
