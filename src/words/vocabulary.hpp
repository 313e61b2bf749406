#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/context.hpp"
#include "core/entry.hpp"

namespace forth {

// What a built-in does, as far as anyone running it needs to know.
enum class Kind : std::uint8_t {
    binary,          // ( x y -- r ), computed from its operands
    binary2,         // ( x y -- r q )
    unary,           // ( x -- r )
    shuffle,         // rearranges the top values, checking the depth first
    pop,             // drop
    effect,          // works on the Context, the dictionary aside
    opener,          // opens a construct
    change,          // may change anything
    control,         // says what to run
    variable_sigil,  // = + -: changes a variable by a value it takes
    fetch_sigil,     // $
    opener_sigil,    // :
    other_sigil,     // ' / ? @
    alias,
};

// What a construct leaves when it has closed.
enum class Construct : std::uint8_t { none, list, text, comment, definition };

// One row of words/vocabulary.def.
struct Builtin {
    std::string_view name;  // the word, the sigil's character or the alias
    Kind kind;
    std::uint8_t in = 0;               // the values it takes (and checks the stack holds)
    std::uint8_t out = 0;              // the values it leaves
    void (*word)(Context&) = nullptr;  // the plain function; none for control words
    void (*sigil)(Context&, const std::string&) = nullptr;
    Entry (*enter)(Context&) = nullptr;  // a control word's
    Construct construct = Construct::none;
    std::string_view closer = {};  // the closing word an opener waits for
    const char* alias = nullptr;   // what an alias stands for
};

// The rows by name, for whoever needs to know one.
enum class Row : std::uint8_t {
#define TOLVA_ROW(kind, name, id) id,
#include "words/vocabulary.def"
    count
};

// The whole vocabulary, in registration order.
extern const Builtin builtin_rows[static_cast<std::size_t>(Row::count)];
inline std::span<const Builtin> vocabulary() { return builtin_rows; }
inline const Builtin& row(Row which) { return vocabulary()[static_cast<std::size_t>(which)]; }
inline Row row_number(const Builtin& builtin) { return static_cast<Row>(&builtin - vocabulary().data()); }

// A built-in word as the dictionary holds it, and a built-in sigil handler:
// callables that know their row, so the evaluator can tell what they are.
// `plain` is what calling the word does: the row's function, or for a
// control word, running what it says (engine/evaluate.hpp).
struct BuiltinWord {
    const Builtin* row;
    void (*plain)(Context&);
    void operator()(Context& ctx) const { plain(ctx); }
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

// Whether `name` is the closing word of some construct (`]`, `;`, ...).
bool is_closer(std::string_view name);

}  // namespace forth
