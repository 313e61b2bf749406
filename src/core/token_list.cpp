#include "core/token_list.hpp"

#include <utility>

#include "core/code.hpp"

namespace forth {

ListNode::ListNode() = default;
ListNode::ListNode(std::vector<std::string> initial) : tokens(std::move(initial)) {}
ListNode::~ListNode() = default;

TokenList::TokenList(std::initializer_list<std::string> tokens) : TokenList(std::vector<std::string>(tokens)) {}

TokenList::TokenList(std::vector<std::string> tokens) {
    if (!tokens.empty()) node_ = Ref<ListNode>(new ListNode(std::move(tokens)));
}

const std::vector<std::string>& TokenList::tokens() const {
    static const std::vector<std::string> none;
    return node_ ? node_->tokens : none;
}

void TokenList::clear() { node_ = {}; }

void TokenList::push_back(std::string token) {
    if (!node_ || node_->references > 1) {
        node_ = Ref<ListNode>(new ListNode(tokens()));
    } else {
        node_->code.reset();  // the tokens change, so do their compiled form and text
        node_->text.reset();
    }
    node_->tokens.push_back(std::move(token));
}

const std::string& joined(const TokenList& tokens) {
    static const std::string none;
    ListNode* const node = tokens.node();
    if (node == nullptr) return none;
    if (!node->text) {
        std::string text;
        for (const std::string& token : node->tokens) {
            text += token;
            text += ' ';
        }
        if (!text.empty()) text.pop_back();
        node->text = std::make_unique<std::string>(std::move(text));
    }
    return *node->text;
}

}  // namespace forth
