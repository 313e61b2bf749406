#pragma once

namespace forth {

// Throws std::runtime_error "recursion too deep" when the calling thread's
// stack is nearly used up. Recursion in the language nests on the
// evaluator's own frame stack; this guards what still nests on the machine's
// stack, native code that re-enters the evaluator, when the stack is small.
void check_stack_depth();

}  // namespace forth
