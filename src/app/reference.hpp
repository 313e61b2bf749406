#pragma once

#include <string>
#include <string_view>

// The language reference (docs/language.md), built in, so that the
// editor's hover and the terminal's ?word say what the manual says.
namespace forth {

// The reference's text; made from the manual at build time.
std::string_view language_reference();

// What the reference says of a built-in word or a sigil (its character):
// the paragraph under its heading, which begins with its stack effect.
// Empty when it says nothing.
std::string describe(std::string_view name, bool sigil);

// The stack effect the description begins with, as "( x -- x x )".
std::string effect_of(const std::string& description);

}  // namespace forth
