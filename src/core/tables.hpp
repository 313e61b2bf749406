#pragma once

#include <string>

#include "core/context.hpp"

// Every change to the dictionary or the alias table goes through these (or
// is followed by note_change), so that the evaluator learns of it at once:
// each change sets the trap and makes a new generation, and compiled lists
// that looked up the changed name are compiled again before they run on.
namespace forth {

void define_word(Context& ctx, const std::string& name, Word word);
void define_alias(Context& ctx, const std::string& name, std::string replacement);
void note_change(Context& ctx);
void note_change(Context& ctx, const std::string& name);

}  // namespace forth
