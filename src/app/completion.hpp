#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/context.hpp"

namespace forth {

// The token that `text` ends with: what follows its last white space, where
// the evaluator would split it too. Empty after white space.
std::string_view last_token(std::string_view text);

// What `token` can be completed to, sorted and each once: dictionary words
// and aliases that begin with it; after a variable sigil ($ = + -) also
// variable names, and after ' or ? word names, each behind its sigil.
std::vector<std::string> completions(const Context& ctx, std::string_view token);

// The longest text that every one of `names` begins with.
std::string common_prefix(const std::vector<std::string>& names);

}  // namespace forth
