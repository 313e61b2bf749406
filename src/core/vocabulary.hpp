#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/context.hpp"

namespace forth {

struct InlineWord;

// How the evaluator may run a built-in word or sigil.
enum class Kind : std::uint8_t {
    straight,  // works on the stack, variables, text, lists, input and output only
    control,   // runs a list, which it leaves to the evaluator as a frame
    opener,    // opens a construct, which runs whole when its closing word follows in the same list
    variable,  // = + -: once its variable exists, works on it directly
    fetch,     // $: likewise
    other,     // may change anything: the evaluator looks at its state again after it
};

// What a construct leaves when it has closed.
enum class Construct : std::uint8_t { none, list, text, comment, definition };

// One entry of the vocabulary, which registers a word, a sigil or an alias.
struct Builtin {
    std::string_view name;  // the word, the sigil's character or the alias
    Kind kind = Kind::other;
    void (*word)(Context&) = nullptr;
    void (*sigil)(Context&, const std::string&) = nullptr;
    const char* alias = nullptr;       // what the alias stands for
    const InlineWord* fast = nullptr;  // how compiled lists run it inline, alone or with its neighbours
    Construct construct = Construct::none;
    std::string_view closer = {};      // the closing word an opener waits for
};

// A built-in word as the dictionary holds it, and a built-in sigil handler:
// callables that know their row, so the evaluator can tell what they are.
struct BuiltinWord {
    const Builtin* row;
    void operator()(Context& ctx) const { row->word(ctx); }
};
struct BuiltinSigil {
    const Builtin* row;
    void operator()(Context& ctx, const std::string& name) const { row->sigil(ctx, name); }
};

// The row of a dictionary entry or a sigil handler; null for anything else.
inline const Builtin* row_of(const Word& word) {
    const auto* builtin = word.target<BuiltinWord>();
    return builtin != nullptr ? builtin->row : nullptr;
}
inline const Builtin* row_of(const SigilHandler& handler) {
    const auto* builtin = handler.target<BuiltinSigil>();
    return builtin != nullptr ? builtin->row : nullptr;
}

}  // namespace forth
