#include "core/text_register.hpp"

namespace forth {

void set_text_joined(Context& ctx, const TokenList& list) {
    Runtime::JoinedText& known = ctx.runtime.joined_text;
    // The list held here stays as it is: adding to it copies it first.
    if (list.node() != nullptr && known.list.get() == list.node() && known.data == ctx.text.data() &&
        known.size == ctx.text.size())
        return;
    ctx.text = joined(list);
    known = {Ref<ListNode>(list.node()), ctx.text.data(), ctx.text.size()};
}

}  // namespace forth
