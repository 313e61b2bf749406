#pragma once

#include "core/context.hpp"

namespace forth {

// Greets, then reads and evaluates standard input line by line until it ends.
void interactive_loop(Context& ctx);

}  // namespace forth
