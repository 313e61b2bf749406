#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/context.hpp"
#include "core/entry.hpp"
#include "engine/instruction.hpp"

// What the evaluator's loop (engine/machine.cpp) and its driver
// (engine/driver.cpp) share: the long way of a token, the pushing of
// frames, and what the loop leaves to native code.
namespace forth {

// What the standard string-to-double conversion makes of a token: the value
// of its longest leading number, whether there is one, and whether it fits.
struct LeadingNumber {
    double value;
    bool found;
    bool in_range;
};
LeadingNumber leading_number(const std::string& token);

// Pushes the value of `token`'s leading number; throws for a token with
// none: "unknown word", or "stod" when it is out of range.
void push_number(Context& ctx, const std::string& token);

// Throws as push_number does for `token`, which has no number it can push.
[[noreturn]] void no_number(const std::string& token);

// The long way of one token, as a frame run token by token takes it. A
// call or a control word pushes its frames for the running driver to run.
void resolve_token(Context& ctx, const std::string& token, bool expand_aliases);

// Resolves the tokens [first, end) of the list `frame` runs, the long way.
void run_tokens(Context& ctx, const Frame& frame, std::uint32_t first, std::uint32_t end);

// Enters what a control word said to run, as frames of the running
// evaluator, each counted and polled as a call.
void enter(Context& ctx, Entry entry);
void enter_times(Context& ctx, ListNode* body, std::int32_t passes);
void enter_repeat(Context& ctx, ListNode* body, ListNode* condition, double stop);

// Makes room for one more frame, or throws "recursion too deep".
void make_room(Context& ctx);

// A call that runs in place, `level` calls deep, begins: it counts toward
// the depth as the frames it stands for would, and polls as they would.
void enter_in_place(Context& ctx, std::uint16_t level);

// Where a call or a loop pass finds the trap set: takes an interrupt request.
void service_poll(Context& ctx);

// Where an instruction that may have changed anything finds the trap set
// or its list stale: looks at the state again, and hands the top frame to
// the driver when it must run token by token.
void look_again(Context& ctx);

// Makes `frame` go on by instructions that are current, or token by token.
void revalidate(Context& ctx, Frame& frame);

// Sets `frame` to run its list from the start, as its kind says.
void start(Context& ctx, Frame& frame);

// Whether `node`, beginning a run, runs by instructions: it has them, or
// it ran before (ListNode::ran), or every list is compiled at once.
bool runs_compiled(Context& ctx, ListNode& node);

// Calls `node` to run token by token: a frame, counted and polled.
void call_slowly(Context& ctx, ListNode* node);

// Sets a repeat loop's frame that runs its pass in one code to run the
// pass token by token from the start of its body.
void start_over_slowly(Frame& frame);

// The ops that call native code the rest of the evaluator does not know.
void call_word(Context& ctx, const Word& word);
void call_sigil(Context& ctx, const Detail& detail);
void settle_variable(Context& ctx, const Instr& instr);

// The tokens running, innermost first, each where it was read: the one
// the top frame runs, then the call that led to it, and so on out.
std::vector<Place> running_chain(Runtime& runtime);

// The same from at most the `most` innermost calls; when there are more,
// then a place for those left out (Place::left_out) and the outermost. In
// time independent of the depth, for what is kept of every token.
std::vector<Place> recent_calls(Runtime& runtime, std::size_t most);

// The token the top frame runs, and how many calls deep it runs.
Place running_token(Runtime& runtime);
std::size_t call_depth(const Runtime& runtime);

// Runs the top frame's instructions until the driver must take over.
void run_engine(Context& ctx);

}  // namespace forth
