#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/context.hpp"

// Stack effects, found by running token lists on symbolic values: what a
// list takes at most and leaves. Each value is a name, so that a flag kept
// with dup and tested twice takes the same way both times, and an if-else
// written as two tests of one flag is known. A word that calls itself is
// found by iterating from "never returns" to a fixed point.
namespace forth::lsp {

struct Effect {
    enum class Kind { never, known, unknown };  // never: no path returns (yet)
    Kind kind = Kind::known;
    int in = 0;   // the values it may take
    int out = 0;  // the values it then leaves

    static Effect of(int in, int out) { return {Kind::known, in, out}; }
    static Effect unknown() { return {Kind::unknown, 0, 0}; }
    static Effect never() { return {Kind::never, 0, 0}; }
    bool known() const { return kind == Kind::known; }
    bool balanced() const { return known() && in == out; }
    friend bool operator==(const Effect&, const Effect&) = default;
};

// One effect after the other.
Effect then(Effect first, Effect second);

// The names a comment gives an effect, as in "\ square ( n -- n*n )".
struct Names {
    std::vector<std::string> in, out;
};
std::optional<Names> declared_names(std::string_view comment);

// "( a b -- c )", or "( ? )" when unknown; with the comment's names when
// their counts match.
std::string notation(const Effect& effect, const std::optional<Names>& names = std::nullopt);

using Tokens = std::vector<std::string>;

// A list's effect as running it gives it, and what else running it may do.
struct ListEffect {
    Effect effect;
    std::vector<std::string> names;  // the words and aliases it may define, by name
    bool anything = false;           // may define any name: ; alone, interpret, included
    bool leaves_open = false;        // may leave a construct open, collecting what follows
    bool quotes = false;             // may set the list that control words run next
    bool defines() const { return anything || !names.empty(); }
};

struct Path;
class Walker;

// The effects of lists under the dictionary `reading` holds when asked:
// each word means what it means when it runs. Answers are kept until the
// dictionary changes.
class Effects {
public:
    explicit Effects(Context& reading);
    ~Effects();
    Effects(const Effects&) = delete;
    Effects& operator=(const Effects&) = delete;

    ListEffect of_list(const Tokens& tokens);
    // What `name` does, run as a token now.
    ListEffect of_word(const std::string& name);
    // What a token takes whatever happens: a number, a sigil, a word that is
    // no control word; none for the rest.
    std::optional<int> fixed_take(const std::string& token);

    // The top level of a text, a token at a time, with nothing below what
    // the text pushed: the depth there, while it is the same on every way.
    class Top {
    public:
        explicit Top(Effects& effects);
        ~Top();
        Top(const Top&) = delete;
        Top& operator=(const Top&) = delete;
        // Runs one token that opens no construct.
        void step(const std::string& token);
        // A list closed at the top level: the one control words run next.
        void closed_list(const TokenList& list);
        // What the text does from here on is not known.
        void lose_track() { known_ = false; }
        std::optional<std::size_t> depth() const;
        ListEffect last;  // of the token run last; its effect unknown where it was not followed
    private:
        Effects& effects_;
        std::vector<Path> paths_;
        bool known_ = true;
    };

private:
    friend class Walker;
    struct Pending;
    ListEffect word_effect(const TokenList& body);
    std::shared_ptr<const Tokens> tokens_of(const TokenList& list);

    Context& reading_;
    std::uint64_t generation_ = 0;
    std::unordered_map<const ListNode*, ListEffect> done_;
    std::vector<std::unique_ptr<Pending>> in_progress_;
    std::size_t lowest_used_;  // the outermost word in progress whose guess a walk used
    std::size_t steps_ = 0;    // of every walk, against a runaway
    int next_value_ = 0;
};

}  // namespace forth::lsp
