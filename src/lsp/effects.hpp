#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "lsp/analysis.hpp"

// Stack effects, found by running token lists on the depth of the stack
// alone: what a list takes at most and leaves. A word that calls itself is
// found by iterating from "never returns" to a fixed point.
namespace forth::lsp {

struct Effect {
    enum class Kind { never, known, unknown };  // never: no path returns (yet)
    Kind kind = Kind::known;
    int in = 0;   // the values it may take
    int out = 0;  // the values it then leaves

    static Effect of(int in, int out) { return {Kind::known, in, out}; }
    static Effect unknown() { return {Kind::unknown, 0, 0}; }
    static Effect never() { return {Kind::never, 0, 0}; }
    bool known() const { return kind == Kind::known; }
    bool balanced() const { return known() && in == out; }
    friend bool operator==(const Effect&, const Effect&) = default;
};

// One effect after the other.
Effect then(Effect first, Effect second);

// "( a b -- c )", or "( ? )" when unknown.
std::string notation(const Effect& effect);

// The effects of the words the document defines with :name, by name; a name
// defined more than once, or otherwise than by :name, is unknown.
std::map<std::string, Effect> word_effects(const Analysis& analysis);

// Diagnoses the stack underflows certain at the top level of the document,
// where every token before has a known effect; the first only, since the
// run ends there.
void check_depths(Analysis& analysis, const std::map<std::string, Effect>& words);

}  // namespace forth::lsp
