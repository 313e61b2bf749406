#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <cstdint>
#include <deque>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/retired.hpp"
#include "core/stack.hpp"
#include "core/token_list.hpp"

namespace forth {

struct Context;

// A value no Context has had yet; see Runtime::generation.
std::uint64_t new_generation();

// A quick hash of a name's bytes, for the filters that tell at once that a
// name is not among some: the dictionary's (Runtime::word_names) and the
// names a compiled list looked up (the evaluator's).
inline std::uint32_t name_hash(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}
inline std::size_t word_name_bit(std::uint32_t hash) { return hash % 4096; }

using Word = std::function<void(Context&)>;
using SigilHandler = std::function<void(Context&, const std::string&)>;

// A token and where it was read: the source's name, its line and the
// token's column there (from 0). The source is empty when not known. In a
// chain of calls, `times` counts the same call made again and again, and a
// place with no token may stand for the `left_out` calls of a long chain
// between its first places and its outermost.
struct Place {
    std::string source{};
    std::size_t line = 0;
    std::size_t column = 0;
    std::string token{};
    std::size_t times = 1;
    std::size_t left_out = 0;
};

// Where an error happened: the token that failed, at the top level of its
// text; or, while places are tracked, the innermost token that failed,
// inside the words and quotes that led there, whose calls `callers` holds,
// innermost first.
struct ErrorLocation : Place {
    std::vector<Place> callers;
};

// What the words and the tables tell the evaluator: that the dictionary or
// the aliases changed, that a construct opened, that an interrupt is asked
// for. No word reads it.
struct Runtime {
    // The one word the evaluator tests to learn that it must look at its
    // state again: set by an interrupt request, by any change to the
    // dictionary or the aliases, by an opening word, and by the evaluator
    // itself while it runs token by token or a poll hook is set. It is
    // tested where work may go on without end, at every call and every pass
    // of a loop, and after every instruction that may have set it; what it
    // stands for is read from the state itself, so setting it when nothing
    // changed is safe. Set by signal handlers and by other threads, hence
    // atomic and lock-free; the loop reads it with a relaxed load, the
    // plain load it always was (core/trap.hpp).
    std::atomic<int> trap = 0;
    std::atomic<int> interrupt_requested = 0;
    static_assert(std::atomic<int>::is_always_lock_free, "set in signal handlers");
    // The list a whole construct just closed, while the evaluator's loop
    // runs: what the buffer and the quotation hold, set in them when code
    // outside the loop may look (engine/machine.cpp).
    ListNode* quoted = nullptr;
    // Changes whenever a word or an alias is added or replaced, so compiled
    // token lists know when to look their tokens up again. Values are never
    // reused, not even by another Context.
    std::uint64_t generation = new_generation();
    // The latest changes, newest last, so that a list compiled before them
    // can be kept when none of them touched a name it looked up.
    struct Change {
        std::uint64_t before;  // the generation the change ended
        std::string name;      // what it added or replaced; empty when unknown
    };
    std::deque<Change> changes;
    // The first characters of the alias names, so that most tokens are
    // known to be no alias without hashing them; and a filter of the
    // dictionary's names, so that most numbers are known to be no word.
    std::bitset<256> alias_initials;
    std::size_t aliases_seen = 0;
    std::bitset<4096> word_names;
    std::size_t words_seen = 0;
    // The words found last, by the filter's bit, in their generation:
    // source text names the same few words again and again.
    struct FoundWord {
        std::uint64_t generation = 0;
        std::string name;
        Word* word = nullptr;
    };
    std::array<FoundWord, 64> found_words;
    // The list whose tokens the text register holds, joined, as closing a
    // string left it: a lone closer after it copies nothing again. Any other
    // write of the register, and any code not of the evaluator's own that may
    // write it, forgets it (core/text_register.hpp).
    struct JoinedText {
        Ref<ListNode> list;
        const char* data = nullptr;
        std::size_t size = 0;
    };
    JoinedText joined_text;
};

// The evaluator, as the state knows it: its own bookkeeping lives in the
// class that derives from this (engine/evaluator.hpp), made when it first
// runs; a user word that native code calls runs through it.
class Engine {
public:
    virtual ~Engine() = default;
    virtual void run(Context& ctx, const TokenList& list) = 0;
};

// The whole state of one interpreter. Words work on the members directly;
// the rules that give them meaning live with the words that change them.
// Words and aliases are changed through define_word and define_alias
// (core/tables.hpp), so that the evaluator sees the change.
struct Context {
    Stack stack;
    std::unordered_map<std::string, Word> words;
    std::unordered_map<std::string, std::string> aliases;
    std::unordered_map<char, SigilHandler> sigils;
    std::unordered_map<std::string, double> variables;
    std::string terminator;          // closing word of the open construct; empty when none is open
    TokenList buffer;                // tokens collected by the open (or last) construct
    TokenList quotation;             // the list closed last by ] or }, or set by the ' sigil
    TokenList loop_body;             // saved by while/until for repeat
    std::string text;                // the text register
    std::stringstream input;         // what accept read, for parse-name, number and interpret
    std::ostream* out = &std::cout;  // where the words print
    std::ostream* err = &std::cerr;  // where front ends report errors
    std::istream* in = &std::cin;    // where accept reads its lines
    // Where accept and the interactive loop read lines instead, while set
    // (a line editor on a terminal): core/line_input.hpp.
    std::function<bool(std::string& line)> line_source;
    Runtime runtime;
    std::unique_ptr<Engine> engine;
    // Lists let go while code runs (core/retired.hpp). Destroyed first, so
    // that a debug build finds a Context destroyed while it runs at once.
    RetiredLists retired;
};

// The dictionary's entry for `token`, whose name_hash is `hash`, or null:
// the filter, the words found last, then the dictionary itself. The entries
// stay where they are, as nothing removes one.
inline Word* find_word(Context& ctx, const std::string& token, std::uint32_t hash) {
    Runtime& runtime = ctx.runtime;
    const std::size_t bit = word_name_bit(hash);
    if (!runtime.word_names.test(bit)) return nullptr;
    Runtime::FoundWord& found = runtime.found_words[bit % runtime.found_words.size()];
    if (found.generation == runtime.generation && found.name == token) return found.word;
    const auto word = ctx.words.find(token);
    if (word == ctx.words.end()) return nullptr;
    found = {runtime.generation, token, &word->second};
    return &word->second;
}
inline Word* find_word(Context& ctx, const std::string& token) { return find_word(ctx, token, name_hash(token)); }

// Throws std::out_of_range with `message`. Out of line, so that the words
// that check the stack's depth keep no registers for the throw they rarely make.
[[noreturn, gnu::cold]] void underflow(const char* message);

inline double pop(Context& ctx) {
    if (ctx.stack.empty()) [[unlikely]]
        underflow("stack underflow");
    const double top = ctx.stack.back();
    ctx.stack.pop_back();
    return top;
}

inline void push(Context& ctx, double value) { ctx.stack.push_back(value); }

}  // namespace forth
