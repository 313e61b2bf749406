#pragma once

#include <cstdint>
#include <string>

#include "core/entry.hpp"
#include "core/text_register.hpp"
#include "core/trap.hpp"
#include "engine/code.hpp"
#include "engine/evaluator.hpp"

// What the driver (engine/driver.cpp) and the loop (engine/machine.cpp)
// both do with frames: push them for a call, a loop or a text, start a list
// by instructions or token by token, poll, and look at the state again
// after a change. It calls neither of them.
namespace forth {

// How many token lists and texts may run inside one another: word calls,
// the lists run by control words and execute, texts run by interpret. One
// more is the error "recursion too deep". The same in every build and under
// every stack size, since the nesting lives in the evaluator's frames.
inline constexpr std::size_t max_depth = 1'000'000;

// How many times native code may run the evaluator inside itself (a closing
// word defined to close its own construct, a file that includes another):
// each time costs the machine's own stack, so the stack guard may stop it
// sooner when that stack is small.
inline constexpr std::size_t max_reentry = 10'000;

// Whether lists may run by instructions now: not while a construct collects,
// nor while every list runs token by token.
inline bool instructions_allowed(Context& ctx) { return !evaluator(ctx).by_tokens && ctx.terminator.empty(); }

// Makes `frame` go on token by token from token `pc`.
inline void to_tokens(Frame& frame, std::uint32_t pc) {
    frame.pc = pc;
    frame.ip = by_tokens_instr();
    frame.code = &by_tokens_code;
}

// Makes `frame`, running instructions, go on token by token from where
// they stand. A repeat loop's pass in one code stands in its body or its
// condition.
void leave_instructions(Frame& frame);

// Whether `node`, beginning a run, runs by instructions: it has them, or
// it ran before (ListNode::ran), or every list is compiled at once. It
// notes the run.
bool runs_compiled(Context& ctx, ListNode& node);

// Sets `frame` to run its list from the start, by instructions when it may
// (instructions_allowed, runs_compiled), else token by token.
void start(Context& ctx, Frame& frame);

// The next pass of a loop whose list ran token by token begins: from the
// list's start, by instructions from its second run.
void begin_pass(Context& ctx, Frame& frame);

// The call of a list: its frame, counted toward the depth and polled, then
// started. Code that runs by instructions does the same in line when the
// list is compiled and current, there is room and nothing to poll for; it
// asks ready_to_call otherwise, which makes it so, or, at the list's first
// run, calls it to run token by token (null).
void call_list(Context& ctx, ListNode* node);
Code* ready_to_call(Context& ctx, ListNode& node);

// Enters what a control word said to run, as frames, each counted and
// polled as a call.
void enter(Context& ctx, Entry entry);
void enter_times(Context& ctx, ListNode* body, std::int32_t passes);
void enter_repeat(Context& ctx, ListNode* body, ListNode* condition, double stop);

// Pushes a frame of `kind` that runs `node` token by token from its start:
// counted toward the depth, as a call, and polled.
Frame& push_frame(Context& ctx, Run kind, ListNode* node);

// Takes the top frame off; a text's state is kept for the next.
void end_text(Evaluator& state, TextState* text);
inline void pop_frame(Context& ctx) {
    Evaluator& state = evaluator(ctx);
    FrameStack& frames = state.frames;
    if (frames.back().kind == Run::text) end_text(state, frames.back().text);
    frames.pop(max_depth);
}

// Room for `calls` more calls, or "recursion too deep": a call that pushes
// a frame asks for one; one whose body runs in place, `calls` deep in laid
// in bodies, for as many as the frames it stands for.
void make_room(Context& ctx, std::size_t calls = 1);

// A call whose body runs in place begins: it counts and polls as the call
// it stands for.
void count_in_place(Context& ctx, std::uint8_t calls);

// Where a call, a loop pass or a list ending while a construct collects
// finds the trap set: takes an interrupt request, calls the poll hook.
void service_poll(Context& ctx);
inline void poll(Context& ctx) {
    if (trapped(ctx.runtime)) service_poll(ctx);
}

inline Frame& push_frame(Context& ctx, Run kind, ListNode* node) {
    FrameStack& frames = evaluator(ctx).frames;
    if (frames.top() + 1 == frames.limit()) make_room(ctx);
    poll(ctx);
    Frame* const frame = frames.top() + 1;
    frames.set_top(frame);
    frame->kind = kind;
    frame->node = node;
    // A list that runs never changes: what collecting adds to it goes to a copy.
    if (node != nullptr) node->frozen = true;
    to_tokens(*frame, 0);
    return *frame;
}

// After an instruction that may have changed anything, the trap set or its
// list stale: looks at the state again, and hands the top frame to the
// driver when it must run token by token.
void after_change(Context& ctx);

// The instruction of `code` at which a frame may go on from `token` now:
// one that begins there and is no part of a straight run but its head,
// and whose run the stack holds enough for. Null when there is none.
const Instr* entry_for(const Context& ctx, const Code& code, std::uint32_t token);

// Makes `frame` go on by instructions that are current, or token by token.
void revalidate(Context& ctx, Frame& frame);

// The ops that call native code the rest of the evaluator does not know.
void call_word(Context& ctx, const Word& word);
void call_sigil(Context& ctx, const Named& named);
// = + - $ on a variable that did not exist when the list was compiled: the
// sigil's own function; once the variable exists, the list is compiled
// anew before it runs next.
void variable_sigil(Context& ctx, const Named& named);

// Source text for a frame: its state, kept from texts that ended, so that
// evaluating a line allocates nothing; and its frame, counted and polled.
std::unique_ptr<TextState> new_text(Context& ctx, std::shared_ptr<const std::string> owner, std::string_view text);
void push_text(Context& ctx, std::unique_ptr<TextState> text);

// Deletes what no frame of `ctx` runs from its retired lists, when they
// have grown long.
void sweep_when_many_retired(Context& ctx);

}  // namespace forth
