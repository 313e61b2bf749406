#pragma once

#include <string>

#include "core/context.hpp"

namespace forth {

// Runs every white-space separated token of `source` until a lone backslash.
void evaluate(Context& ctx, const std::string& source);

// The single road of a token: collect it into an open construct, or run it
// as an alias, a word, a sigil followed by a name, or a number to push.
void resolve(Context& ctx, const std::string& token, bool expand_aliases = true);

// Resolves each token of `tokens` in order. Callers pass a list that the run
// cannot change (a copy of a Context member), so a token that replaces the
// list it came from never changes the rest of this run.
void run(Context& ctx, const TokenList& tokens);

// Fills a fresh Context with the built-in words, sigils and aliases.
void load_builtins(Context& ctx);

}  // namespace forth
