#pragma once

#include <string>

#include "core/context.hpp"
#include "core/entry.hpp"

// The functions that words/vocabulary.def names as the bodies of its rows,
// declared from the rows themselves. They live in the other files of
// src/words: constructs.cpp, reflective.cpp, output.cpp, references.cpp,
// stack.cpp and control.cpp.
namespace forth::builtin {

#define EFFECT(name, id, in, out, function) void function(Context& ctx);
#define OPENER(name, id, function, ...) void function(Context& ctx);
#define CHANGE(name, id, function) void function(Context& ctx);
#define CONTROL(name, id, in, function) Entry function(Context& ctx);
#define SIGIL(name, id, function) void function(Context& ctx, const std::string& rest);
#define OPENER_SIGIL(name, id, function, ...) void function(Context& ctx, const std::string& rest);
#include "words/vocabulary.def"

}  // namespace forth::builtin
