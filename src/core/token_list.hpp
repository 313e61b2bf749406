#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/ref.hpp"

namespace forth {

// White space as the standard streams see it in the classic locale: what
// separates tokens in source text and numbers in a line read by accept.
// One table look-up per character: source text is read a character at a time.
inline constexpr auto blank_characters = [] {
    std::array<bool, 256> table{};
    for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'}) table[static_cast<unsigned char>(c)] = true;
    return table;
}();
inline bool is_blank(char c) { return blank_characters[static_cast<unsigned char>(c)]; }

// The next token of `text` at or after `position`, which moves past it, as
// the standard formatted string extraction reads one in the classic locale;
// empty at the end. Source text is read this way, by the evaluator and by
// whatever reads it as the evaluator does.
inline std::string_view next_token(std::string_view text, std::size_t& position) {
    while (position < text.size() && is_blank(text[position])) ++position;
    const std::size_t start = position;
    while (position < text.size() && !is_blank(text[position])) ++position;
    return text.substr(start, position - start);
}

// Where a token was read, while places are tracked: a source by number
// (0 when unknown), the line and the column there.
struct Origin {
    std::uint32_t source = 0;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

// What the evaluator makes of a list to run it; it owns the type.
struct Compiled {
    virtual ~Compiled() = default;
};

// The tokens of one list, shared by every TokenList that holds them, with the
// list's compiled form once it has run. The tokens sit in one text, each
// followed by a blank but the last, so a stored token costs its characters
// and an offset, and the text is the list joined.
struct ListNode {
    std::string text;
    std::vector<std::uint32_t> starts;  // where each token begins in `text`
    std::vector<Origin> origins;        // one per token while places are tracked, else none
    std::unique_ptr<Compiled> code;     // built and rebuilt by the evaluator
    std::size_t references = 0;
    // Set once a list has been run or compiled: from then on, adding a
    // token copies it, since a run may still be reading it.
    bool frozen = false;
    bool retired = false;  // waiting in the retired lists (core/retired.hpp)
    // Whether it began to run once before, uncompiled: a list is compiled
    // the second time it runs, since most that run once (made as a program
    // runs) cost less run token by token than compiled.
    bool ran = false;
    ListNode* next_doomed = nullptr;  // the next list waiting to be deleted (dispose)

    ListNode();
    ~ListNode();
    ListNode(const ListNode&) = delete;
    ListNode& operator=(const ListNode&) = delete;

    std::size_t size() const { return starts.size(); }
    std::string_view token(std::size_t index) const {
        const std::size_t end = index + 1 < starts.size() ? starts[index + 1] - 1 : text.size();
        return std::string_view(text).substr(starts[index], end - starts[index]);
    }
    void append(std::string_view token);
    // Where token `index` was read; unknown for a list that keeps none.
    Origin origin(std::size_t index) const { return index < origins.size() ? origins[index] : Origin{}; }
};

// The last reference to `node` is gone: deleted, or kept while code runs.
void dispose(ListNode* node);

// An ordered sequence of tokens with value semantics. Copies share the
// tokens and the compiled form; a change to a shared list copies it first,
// so handing a list over (to quotation, to a new word, to a running loop)
// costs nothing, and no holder ever sees another's change.
class TokenList {
public:
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;

        const_iterator() = default;
        const_iterator(const ListNode* node, std::size_t index) : node_(node), index_(index) {}
        std::string_view operator*() const { return node_->token(index_); }
        const_iterator& operator++() {
            ++index_;
            return *this;
        }
        const_iterator operator++(int) { return {node_, index_++}; }
        bool operator==(const const_iterator& other) const { return index_ == other.index_; }

    private:
        const ListNode* node_ = nullptr;
        std::size_t index_ = 0;
    };
    using value_type = std::string_view;

    TokenList() = default;
    TokenList(std::initializer_list<std::string_view> tokens);
    // Shares the tokens of `node` (none when null).
    explicit TokenList(ListNode* node) : node_(node) {}

    const_iterator begin() const { return {node_.get(), 0}; }
    const_iterator end() const { return {node_.get(), size()}; }
    std::size_t size() const { return node_ ? node_->size() : 0; }
    std::string_view operator[](std::size_t index) const { return node_->token(index); }

    void push_back(std::string_view token);
    // Adds a token read at `origin`: the list then keeps a place for every token.
    void push_back(std::string_view token, Origin origin);
    void clear();

    // The shared node, or null for an empty list.
    ListNode* node() const { return node_.get(); }

    // Makes `a` and `b` both share the tokens of `node`.
    static void assign_both(TokenList& a, TokenList& b, ListNode* node) {
        Ref<ListNode>::assign_both(a.node_, b.node_, node);
    }

private:
    ListNode& own();
    Ref<ListNode> node_;
};

// The tokens in order, separated by single blanks.
const std::string& joined(const TokenList& tokens);

}  // namespace forth
