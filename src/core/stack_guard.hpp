#pragma once

namespace forth {

// Throws std::runtime_error "recursion too deep" when the calling thread's
// stack is nearly used up, so that runaway recursion in the language ends in
// an ordinary error instead of killing the process.
void check_stack_depth();

}  // namespace forth
