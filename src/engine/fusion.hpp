#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/code.hpp"

namespace forth {

// One instruction as the matcher makes it: its slots, and what the guard of
// its straight run must know of it: the row its effect names (ROW_PART)
// and the reach of the body it runs in place (BODY_PART).
struct Emitted {
    Instr slots[4];
    std::uint8_t size = 1;  // slots used
    const Builtin* row = nullptr;
    Reach body;
    // A call run in place: the instructions of the body, after the slots,
    // then, for a profile, the op that marks their end.
    std::span<const Instr> in_place;
    bool marked = false;
    // Its run of instructions ends with it: what follows is guarded anew.
    bool ends_run = false;
    // A list that calls, spliced in after the slots: its code and the list.
    const Code* spliced = nullptr;
    ListNode* spliced_list = nullptr;
};

// Looks up the tokens of `node` and decides which run as one instruction:
// a whole construct closed within the list is one term, and the fusion
// rules (engine/fusion.cpp) join terms into one instruction, which it hands
// to `emit` in order. Fills the side tables of `code`; the constructs of
// `previous`, compiled before, keep their lists.
void compile_terms(Context& ctx, const ListNode& node, Code& code, const Code* previous,
                   const std::function<void(const Emitted&)>& emit);

// The fusion rules as the tests see them: each rule's name and the names of
// the classes of terms it matches, in the order the matcher tries them; and
// a call for each rule that matches, for the tests that must make them all.
struct RuleDescription {
    std::string name;
    std::vector<std::string> pattern;
};
std::vector<RuleDescription> fusion_rules();
inline std::atomic<void (*)(const std::string& rule)> on_rule_matched = nullptr;

}  // namespace forth
