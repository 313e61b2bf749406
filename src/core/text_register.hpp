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

inline void set_text_joined(Context& ctx, const TokenList& list) {
    Runtime::JoinedText& known = ctx.runtime.joined_text;
    // The list held here stays as it is: adding to it copies it first.
    if (list.node() != nullptr && known.list.get() == list.node() && known.data == ctx.text.data() &&
        known.size == ctx.text.size())
        return;
    ctx.text = joined(list);
    known = {Ref<ListNode>(list.node()), ctx.text.data(), ctx.text.size()};
}

}  // namespace forth
