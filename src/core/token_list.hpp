#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/ref.hpp"

namespace forth {

struct Code;

// The tokens of one list, shared by every TokenList that holds them, with the
// list's compiled form once it has run.
struct ListNode {
    std::vector<std::string> tokens;
    std::unique_ptr<Code> code;  // built and rebuilt by the evaluator
    std::unique_ptr<std::string> text;  // the tokens joined, once asked for
    std::size_t references = 0;

    ListNode();
    explicit ListNode(std::vector<std::string> initial);
    ~ListNode();
    ListNode(const ListNode&) = delete;
    ListNode& operator=(const ListNode&) = delete;
};

// An ordered sequence of tokens with value semantics. Copies share the
// tokens and the compiled form; a change to a shared list copies it first,
// so handing a list over (to quotation, to a new word, to a running loop)
// costs nothing, and no holder ever sees another's change.
class TokenList {
public:
    using value_type = std::string;
    using const_iterator = std::vector<std::string>::const_iterator;

    TokenList() = default;
    TokenList(std::initializer_list<std::string> tokens);
    explicit TokenList(std::vector<std::string> tokens);
    // Shares the tokens of `node` (none when null).
    explicit TokenList(ListNode* node) : node_(node) {}

    const_iterator begin() const { return tokens().begin(); }
    const_iterator end() const { return tokens().end(); }
    std::size_t size() const { return node_ ? node_->tokens.size() : 0; }
    bool empty() const { return size() == 0; }
    const std::string& operator[](std::size_t index) const { return node_->tokens[index]; }

    void push_back(std::string token);
    void clear();

    // The shared node, or null for an empty list.
    ListNode* node() const { return node_.get(); }


private:
    const std::vector<std::string>& tokens() const;

    Ref<ListNode> node_;
};

// The tokens in order, separated by single blanks; made once per list, so
// a ( ... ) in a loop joins its tokens once.
const std::string& joined(const TokenList& tokens);

}  // namespace forth
