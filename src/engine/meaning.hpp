#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

// The one road of a token that does not close or join a construct: what
// it stands for with today's tables. The token-by-token way and the
// compiler both take it from here.
namespace forth {

// What the standard string-to-double conversion makes of a token: the value
// of its longest leading number, whether there is one, and whether it fits.
struct LeadingNumber {
    double value;
    bool found;
    bool in_range;
};
LeadingNumber leading_number(const std::string& token);

// Throws as resolving `token`, which stands for nothing, does: "unknown
// word", or "stod" for a number out of range.
[[noreturn]] void no_number(const std::string& token);

// A token's meaning, tried in this order: an alias (one level, when
// expanded; its replacement is then what the rest is tried on), a word in
// the dictionary, a sigil followed by a name, a number, or nothing.
struct Meaning {
    enum class Kind : std::uint8_t { word, sigil, number, none };
    Kind kind = Kind::none;
    bool aliased = false;
    // What was tried after the alias: the token, or the alias's
    // replacement, which lives in the alias table until an alias changes.
    const std::string* token = nullptr;
    Word* word = nullptr;               // word
    SigilHandler* handler = nullptr;    // sigil; its name is the token but its first character
    double number = 0;                  // number
};

// `hash` is the token's name_hash. In line: source text takes every
// token this way.
inline Meaning meaning_of(Context& ctx, const std::string& token, bool expand_aliases, std::uint32_t hash) {
    Meaning meaning;
    meaning.token = &token;
    if (expand_aliases && ctx.runtime.alias_initials.test(static_cast<unsigned char>(token.c_str()[0]))) {
        if (const auto alias = ctx.aliases.find(token); alias != ctx.aliases.end()) {
            meaning.aliased = true;
            meaning.token = &alias->second;
            hash = name_hash(alias->second);
        }
    }
    const std::string& tried = *meaning.token;
    if (Word* const word = find_word(ctx, tried, hash)) {
        meaning.kind = Meaning::Kind::word;
        meaning.word = word;
        return meaning;
    }
    // tried[0] of an empty token is its terminating NUL, which is no sigil.
    if (const auto sigil = ctx.sigils.find(tried[0]); sigil != ctx.sigils.end()) {
        meaning.kind = Meaning::Kind::sigil;
        meaning.handler = &sigil->second;
        return meaning;
    }
    if (const LeadingNumber number = leading_number(tried); number.found && number.in_range) {
        meaning.kind = Meaning::Kind::number;
        meaning.number = number.value;
    }
    return meaning;
}
inline Meaning meaning_of(Context& ctx, const std::string& token, bool expand_aliases) {
    return meaning_of(ctx, token, expand_aliases, name_hash(token));
}

}  // namespace forth
