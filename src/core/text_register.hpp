#pragma once

#include "core/context.hpp"

// The text register, as closing a string sets it from the buffer. Closers
// met with nothing open set it again from the same buffer, each time the
// whole of it: a copy is made only when the register or the list changed.
namespace forth {

// Any write of the register but set_text_joined's, and any code that may
// write it without saying (native words and hooks of an embedder), comes
// after this.
inline void forget_joined_text(Runtime& runtime) {
    if (runtime.joined_text.list) runtime.joined_text.list = {};
}

void set_text_joined(Context& ctx, const TokenList& list);

}  // namespace forth
