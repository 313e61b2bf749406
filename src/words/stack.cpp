#include "words/builtins.hpp"

// The words that rearrange the stack are computed from their rows; depth
// looks at the stack as a whole.
namespace forth::builtin {

void depth(Context& ctx) { push(ctx, static_cast<double>(ctx.stack.size())); }

}  // namespace forth::builtin
