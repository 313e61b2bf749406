#include "core/token_list.hpp"

#include <limits>
#include <new>

#include "core/retired.hpp"

namespace forth {

ListNode::ListNode() = default;
ListNode::~ListNode() = default;

void ListNode::append(std::string_view token) {
    // Offsets are 32 bits: a list longer than that is out of memory.
    if (text.size() + token.size() + 1 >= std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
    if (!starts.empty()) text += ' ';
    starts.push_back(static_cast<std::uint32_t>(text.size()));
    text.append(token);
}

TokenList::TokenList(std::initializer_list<std::string_view> tokens) {
    for (const std::string_view token : tokens) push_back(token);
}

void TokenList::clear() { node_ = {}; }

ListNode& TokenList::own() {
    if (!node_) {
        node_ = Ref<ListNode>(new ListNode);
    } else if (node_->references > 1 || node_->frozen) {
        Ref<ListNode> copy(new ListNode);
        copy->text = node_->text;
        copy->starts = node_->starts;
        copy->origins = node_->origins;
        node_ = std::move(copy);
    }
    return *node_;
}

void TokenList::push_back(std::string_view token) {
    ListNode& node = own();
    node.append(token);
    if (!node.origins.empty()) node.origins.emplace_back();
}

void TokenList::push_back(std::string_view token, Origin origin) {
    ListNode& node = own();
    node.origins.resize(node.size());
    node.append(token);
    node.origins.push_back(origin);
}

const std::string& joined(const TokenList& tokens) {
    static const std::string none;
    const ListNode* const node = tokens.node();
    return node == nullptr ? none : node->text;
}

}  // namespace forth
