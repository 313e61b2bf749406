#pragma once

#include "core/context.hpp"

namespace forth {

// Runs the top frame's instructions, into the frames that calls push and
// back out of them, until a frame must be run token by token.
void run_engine(Context& ctx);

}  // namespace forth
