#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core/context.hpp"
#include "engine/instruction.hpp"

namespace forth {

// How a list is run, which says how its instructions end: once (a call),
// as a times loop's body, as a repeat loop's body or as its condition.
enum class Role : std::uint8_t { call, times, body, condition };

// A list's instructions, valid while the dictionary and the aliases stay
// as they were when they were compiled. They run one after another, each
// standing for one token or for several (engine/fusion.hpp); the last ends
// the list as its role says. A straight run of instructions begins with a
// guard, which checks the depth for all of them at once.
struct Code final : Compiled {
    Code();

    std::vector<Instr> instrs;
    // Which code this is, never the same twice (an address may be).
    std::uint64_t serial;
    ListNode* node = nullptr;
    std::uint64_t generation = 0;  // of the tables it was last found current in
    std::uint64_t names = 0;       // a filter of the tokens it looked up, one bit each (name_bit)
    // A token was found through an alias, or a call runs its body's
    // instructions in place: a change to any name may touch it.
    bool depends_on_all = false;
    // What its instructions point at: the lists of its whole constructs
    // (with the first and end token of each, to keep them when compiled
    // again) and the operands kept out of the instructions. A code holds
    // only lists made from its own tokens, so no list can hold itself
    // through codes; what it runs of other lists (calls, bodies in place)
    // it points at without holding, valid while it is current.
    struct Construct {
        std::uint32_t first, end;
        TokenList list;
    };
    std::vector<Construct> constructs;
    std::vector<std::unique_ptr<Detail>> details;
    // The same instructions, ending as a loop's body or condition ends;
    // made on first use, by the code that runs a call.
    std::array<std::unique_ptr<Code>, 4> variants;
    Code* owner = nullptr;  // of a variant, the code that holds it
    // Where a times loop's next pass begins: after the guard when the whole
    // body is one straight run that leaves the depth as it found it.
    std::uint32_t pass_start = 0;
    // Of a loop's code, that instruction: the end of a pass goes back to it
    // through the frame's code, not through the end's operand, so that the
    // jump back does not wait on a load that waits on the pass before.
    const Instr* pass_head = nullptr;
    // Whether the whole list is one straight run, and short enough to run
    // in place of a call of it; and the run's need, change and room.
    bool straight = false;
    bool in_place = false;
    std::int32_t need = 0, delta = 0, room = 0;
    // Of a straight body: its instructions and those of the straight
    // condition named, as one repeat loop (repeat_loop); made on first use.
    std::unique_ptr<Code> loop;
    std::uint64_t loop_condition = 0;  // the condition's serial
    // Of such a loop: the condition's list, whose instructions begin at
    // `split`. Null for any other code.
    ListNode* second = nullptr;
    std::size_t split = 0;

    const Instr* first() const { return instrs.data(); }

    // The instruction at which a frame may go on from `token`: one that
    // begins there and is no part of a straight run but its head. Null
    // when there is none.
    const Instr* entry_at(std::uint32_t token) const;
};

// The bit of a name in Code::names, from its name_hash.
inline std::uint64_t name_bit(std::uint32_t hash) { return std::uint64_t{1} << (hash % 64); }

// Instructions that only some frames may start at carry this in `aux`.
inline constexpr std::uint16_t entry_flag = 0x8000;
inline bool is_entry(const Instr& instr) { return (instr.aux & entry_flag) != 0; }

// The head of a straight run of `covered` instructions that needs the
// stack `need` deep and takes `room` more values, as the loop checks it:
// the distances from the stack's first slot and to its end, in bytes.
inline Instr make_guard(std::int32_t need, std::int32_t room, std::uint32_t covered, std::uint32_t token) {
    constexpr auto slot = static_cast<std::int32_t>(sizeof(double));
    return {.op = Op::guard,
            .aux = static_cast<std::uint16_t>(covered | entry_flag),
            .token = token,
            .operand = {.guard = {(need - 1) * slot, room * slot}}};
}
inline std::uint32_t guard_covered(const Instr& guard) { return guard.aux & ~entry_flag; }

// The code of `node`, made current: compiled, or kept when no change
// since touched what it looked up, or patched, or compiled anew. Marks the
// list frozen, as a list that runs must never change.
Code& make_current(Context& ctx, ListNode& node);

// The variant of `code` for `role`, made on first use.
Code& make_variant(Code& code, Role role);

// The code for running `node` in `role`, current.
inline Code& current_code(Context& ctx, ListNode& node, Role role) {
    auto* code = static_cast<Code*>(node.code.get());
    if (code == nullptr || code->generation != ctx.runtime.generation) [[unlikely]]
        code = &make_current(ctx, node);
    if (role == Role::call) return *code;
    Code* const made = code->variants[static_cast<std::size_t>(role)].get();
    return made != nullptr ? *made : make_variant(*code, role);
}

// A repeat loop over `body` and `condition`, both current and straight:
// the body's instructions, the condition's, and the test of its result,
// in one code with the body's list.
Code& repeat_loop(Code& body, const Code& condition);

// The list and the token of the instruction at `ip` in `code`.
inline std::pair<ListNode*, std::uint32_t> position(const Code& code, const Instr* ip) {
    const bool second = code.second != nullptr && static_cast<std::size_t>(ip - code.first()) >= code.split;
    return {second ? code.second : code.node, ip->token};
}

// A list with no tokens, for empty bodies and quotations.
ListNode& empty_list();

// A frame that the driver runs points at this instruction, of this code.
inline constexpr Instr exit_instruction{.op = Op::exit, .aux = entry_flag, .token = 0, .operand = {.number = 0}};
inline const Instr* exit_instr() { return &exit_instruction; }
Code& exit_code();

}  // namespace forth
