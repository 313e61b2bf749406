#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "core/context.hpp"
#include "engine/evaluator.hpp"
#include "engine/instruction.hpp"

namespace forth {

// A list's instructions, valid while the dictionary and the aliases stay
// as they were when they were compiled. They run one after another, each
// standing for one token or for several (engine/fusion.hpp); the last ends
// the list as it runs (Run: once, times, body, condition). A straight run
// of instructions begins with a guard, which checks the depth for all of
// them at once.
// A call run in place, compiled for a profile, whose body and every call
// run in place inside it run straight through: the calls it makes and the
// steps each takes are known, and counted at once (engine/profiler.hpp).
struct CountedCalls {
    struct Call {
        const ListNode* body;
        std::uint32_t parent;  // the call it is made in; the first has none
        std::uint32_t steps;   // the instructions its own body runs
        bool word = true;      // a word's body, as the profile found it
        std::uint32_t stack = 0;  // of calls, as the profile last counted it
    };
    std::vector<Call> calls;  // the call itself first, then those inside it
    std::uint32_t steps = 0;  // of them all
    std::uint32_t length = 0; // its body's slots as laid in
    // The stack it was last counted in, and the dictionary's generation
    // then; how often it ran there since it was last given to the profile
    // that counts it, which it is given at the latest as this goes.
    std::uint32_t below = UINT32_MAX;
    std::uint64_t generation = 0;
    std::uint64_t runs = 0;
    Profiler* profile = nullptr;
    std::size_t waiting = 0;  // where the profile keeps it

    CountedCalls() = default;
    CountedCalls(const CountedCalls&) = delete;
    CountedCalls& operator=(const CountedCalls&) = delete;
    ~CountedCalls();
};

struct Code final : Compiled {
    Code();

    std::vector<Instr> instrs;
    std::uint64_t generation = 0;  // of the tables it was last found current in
    // What a call checks and enters, beside the generation: the guard at
    // its head, if any, and where it goes on once that passed, so that a
    // call need not go through the guard's instruction (a guard that
    // always passes when there is none).
    const Instr* entry = nullptr;
    // (In 64 bits, as the loop compares them with addresses.)
    struct {
        std::int64_t below = std::numeric_limits<std::int64_t>::min();
        std::int64_t room = -1;
    } entry_guard;
    // Which code this is, never the same twice (an address may be).
    std::uint64_t serial;
    ListNode* node = nullptr;
    std::uint64_t looked_up = 0;   // a filter of the names its tokens looked up, one bit each (name_bit)
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
    std::vector<std::unique_ptr<Named>> named;
    std::vector<std::unique_ptr<CountedCalls>> counted;
    // The same instructions, ending as a loop's body or condition ends,
    // by Run; made on first use, by the code that runs a call.
    std::array<std::unique_ptr<Code>, 5> variants;
    Code* owner = nullptr;  // of a variant, the code that holds it
    // Where a times loop's next pass begins: after the guard when the whole
    // body is one straight run that leaves the depth as it found it.
    std::uint32_t pass_start = 0;
    // Of a loop's code, that instruction: the end of a pass goes back to it
    // through the frame's code, not through the end's operand, so that the
    // jump back does not wait on a load that waits on the pass before.
    const Instr* pass_head = nullptr;
    // Whether the whole list is one straight run, and short enough to run
    // in place of a call of it; and the run's reach.
    bool straight = false;
    bool in_place = false;
    Reach reach;
    // Whether a conditional may splice it in: short, and no op in it but
    // straight ones and calls.
    bool spliceable = false;
    // Of such a list: the reach of the run it begins with, whose guard the
    // run of the conditional checks; and the guard and reach of its last
    // run (-1 for none), which may check what follows it where it is spliced.
    Reach first_reach;
    std::int32_t tail_guard = -1;
    Reach tail_reach;
    // The lists spliced in after a conditional: the instructions that hold
    // each, its list, and the token of its own each stands for. A frame of
    // the list's own runs them, so that one stopped inside goes on in the
    // list (token_of).
    struct Splice {
        std::uint32_t begin, end;
        ListNode* list;
        std::vector<std::uint32_t> tokens;
        std::int32_t tail_guard;  // of its last run, as below
        Reach tail_reach;
        // Its end goes on at the end of the code, past a drop that would
        // take the value the list left last, which it leaves out.
        bool past_drop = false;
    };
    std::vector<Splice> splices;
    // Of a straight body: its instructions and those of the straight
    // condition named, as one repeat loop (repeat_loop); made on first use.
    std::unique_ptr<Code> loop;
    std::uint64_t loop_condition = 0;  // the condition's serial
    // Of such a loop: the condition's list, whose instructions begin at
    // `split`. Null for any other code.
    ListNode* condition = nullptr;
    std::size_t split = 0;

    const Instr* first() const { return instrs.data(); }

    // The instruction at which a frame may go on from `token`: one that
    // begins there and is no part of a straight run but its head. Null
    // when there is none.
    const Instr* entry_at(std::uint32_t token) const;

    // The splice that holds `instr`, if any.
    const Splice* splice_at(const Instr* instr) const;
};

// Whether a depth of `proven` values, proven where a call enters `callee`,
// is all its guard asks (which counts the bytes below the top).
inline bool proves_guard(const Code& callee, std::uint8_t proven) {
    constexpr std::int64_t value = sizeof(double);
    return callee.entry_guard.below <= (std::int64_t{proven} - 1) * value;
}

// Where `call` enters `callee` as its cache keeps it, once the room for
// the callee's guard is found: past the guard, but for a proven call only
// when the depth the run before it proves (in its second slot) is all the
// guard asks, else at the guard.
inline const Instr* cached_entry(const Code& callee, const Instr* call) {
    if (call->op != Op::call_proven && call->op != Op::tail_call_proven) return callee.entry;
    return proves_guard(callee, call[1].calls) ? callee.entry : callee.first();
}

// The else op in `slot` once it calls `callee`: proven, checking only the
// room, when the depth the if-else idiom's first half proves (the slot's
// `calls`) is all the callee's guard asks.
inline Op else_call_for(const Code& callee, const Instr& slot) {
    const Op made = proves_guard(callee, slot.calls) ? Op::else_call_proven : Op::else_call;
    return slot.op == Op::else_call_tail || slot.op == Op::else_call_tail_proven ? tail_form(made) : made;
}

// The bit of a name in Code::looked_up, from its name_hash.
inline std::uint64_t name_bit(std::uint32_t hash) { return std::uint64_t{1} << (hash % 64); }

// The head of a straight run that needs the stack `need` deep and takes
// `room` more values, as the loop checks it: the distances from the
// stack's first slot and to its end, in bytes.
inline Instr make_guard(std::int32_t need, std::int32_t room, std::uint32_t token) {
    constexpr auto slot = static_cast<std::int32_t>(sizeof(double));
    return {.op = Op::guard,
            .entry = true,
            .calls = 0,
            .token = token,
            .operand = {.guard = {(need - 1) * slot, room * slot}}};
}

// The code of `node`, made current: compiled, or kept when no change
// since touched what it looked up, or patched, or compiled anew. Marks the
// list frozen, as a list that runs must never change.
Code& make_current(Context& ctx, ListNode& node);

// The variant of `code` that runs as `run` says, made on first use.
Code& make_variant(Code& code, Run run);

// The code for running `node` as `run` says, current.
inline Code& current_code(Context& ctx, ListNode& node, Run run) {
    auto* code = static_cast<Code*>(node.code.get());
    if (code == nullptr || code->generation != ctx.runtime.generation) [[unlikely]]
        code = &make_current(ctx, node);
    if (run == Run::once || run == Run::tail) return *code;
    Code* const made = code->variants[static_cast<std::size_t>(run)].get();
    return made != nullptr ? *made : make_variant(*code, run);
}

// A repeat loop over `body` and `condition`, both current and straight:
// the body's instructions, the condition's, and the test of its result,
// in one code with the body's list.
Code& repeat_loop(Code& body, const Code& condition);

// The token of the instruction at `ip` in `code`, in the list its frame
// runs: inside a spliced list, that list's own.
inline std::uint32_t token_of(const Code& code, const Instr* ip) {
    if (code.splices.empty()) return ip->token;
    const Code::Splice* const splice = code.splice_at(ip);
    return splice == nullptr ? ip->token : splice->tokens[static_cast<std::size_t>(ip - code.first()) - splice->begin];
}

// The list and the token of the instruction at `ip` in `code`.
inline std::pair<ListNode*, std::uint32_t> position(const Code& code, const Instr* ip) {
    const bool in_condition =
        code.condition != nullptr && static_cast<std::size_t>(ip - code.first()) >= code.split;
    return {in_condition ? code.condition : code.node, token_of(code, ip)};
}

// The Context's list with no tokens, for empty bodies and quotations.
inline ListNode& empty_list(Context& ctx) { return *evaluator(ctx).empty.node(); }

// A frame that runs token by token points at this instruction, of this
// code, which is never current: the driver runs such a frame.
inline constexpr Instr by_tokens_instruction{.op = Op::by_tokens, .entry = true, .calls = 0, .token = 0, .operand = {}};
inline const Instr* by_tokens_instr() { return &by_tokens_instruction; }
extern Code by_tokens_code;

// What the slots of a call that has entered nothing yet hold: a code that
// is no list's and never current, so that the call's one test of them
// (its list's code, and current) fails.
extern const Code nothing_entered;

// Where a frame whose list ran token by token to its end goes on: its
// end as it runs (`ret`, `times_back`, `to_condition`, `repeat_test`),
// which the loop runs as it runs the end of any list.
Code& end_code(Run run);

}  // namespace forth
