#pragma once

#include <cstddef>
#include <string>

#include "core/context.hpp"
#include "core/tables.hpp"

namespace forth {

// Where a text stood when an error left it: the offsets of the token running
// at its top level, which ends past 0 once a token has begun.
struct TextPosition {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Runs every white-space separated token of `source` until a lone backslash.
// When an error leaves it after a token began, `failed_at` (if given) is set
// to where the text stood. While places are tracked, the text was read at
// Runtime::text_start.
void evaluate(Context& ctx, const std::string& source, TextPosition* failed_at = nullptr);

// The single road of a token: collect it into an open construct, or run it
// as an alias, a word, a sigil followed by a name, or a number to push.
void resolve(Context& ctx, const std::string& token, bool expand_aliases = true);

// Resolves each token of `tokens` in order. The list is held for the whole
// run, so a token that replaces the Context member it came from never
// changes the rest of this run.
void run(Context& ctx, const TokenList& tokens);

// Fills a fresh Context with the built-in words, sigils and aliases.
void load_builtins(Context& ctx);

}  // namespace forth
