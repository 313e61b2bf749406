#pragma once

#include <string>

#include "core/context.hpp"
#include "core/interpreter.hpp"
#include "core/interrupt.hpp"

// What the evaluator offers the handlers of compiled steps.
namespace forth {

// Throws the error of a call nested deeper than max_depth.
[[noreturn]] void too_deep();

// Every call is checked here, whether it pushes a frame, takes over its
// caller's or runs in place: the one place where depth is bounded and where
// an interrupt stops runaway recursion.
inline void check_call(const Runtime& runtime) {
    if (runtime.depth >= max_depth) too_deep();
    poll_interrupt();
}

// And counted here, while it runs.
inline void begin_call(Runtime& runtime) {
    check_call(runtime);
    ++runtime.depth;
}

// Pushes the frame of a call and returns it, empty.
inline Frame& push_frame(Context& ctx) {
    begin_call(ctx.runtime);
    return ctx.runtime.frames.push();
}

// Enters a call of the list at `node` and returns the frame that runs it:
// a frame of its own, or as the last step of the top frame's list, that
// frame taken over, since its caller has nothing left to run.
inline Frame& enter_node(Context& ctx, ListNode* node, bool last) {
    if (last) {
        if (Frame& caller = ctx.runtime.frames.back(); caller.kind == Frame::Kind::list) {
            begin_call(ctx.runtime);
            // May release the list of the step that called this; nothing reads it after.
            caller.list = TokenList(node);
            caller.pc = 0;
            ++caller.tail_calls;
            return caller;
        }
    }
    Frame& frame = push_frame(ctx);
    frame.list = TokenList(node);
    return frame;
}

inline void enter_list(Context& ctx, const TokenList& list) { enter_node(ctx, list.node(), false); }
inline void enter_last(Context& ctx, const TokenList& list) { enter_node(ctx, list.node(), true); }

// Stands for the frame of a call that runs in place.
class InlineCall {
public:
    explicit InlineCall(Context& ctx) : runtime_(ctx.runtime) { begin_call(runtime_); }
    ~InlineCall() { --runtime_.depth; }
    InlineCall(const InlineCall&) = delete;
    InlineCall& operator=(const InlineCall&) = delete;

private:
    Runtime& runtime_;
};

// While it lives, the next list call (by a built-in control word) leaves
// its list to the running evaluator as a frame, and as the last step of a
// list takes over the caller's frame.
class DeferredCall {
public:
    DeferredCall(Context& ctx, bool last) : runtime_(ctx.runtime) {
        runtime_.defer_call = last ? Runtime::Defer::last : Runtime::Defer::frame;
    }
    ~DeferredCall() { runtime_.defer_call = Runtime::Defer::none; }
    DeferredCall(const DeferredCall&) = delete;
    DeferredCall& operator=(const DeferredCall&) = delete;

    // True while no list call has taken the deferral: nothing was left to run.
    bool ran_nothing() const { return runtime_.defer_call != Runtime::Defer::none; }

private:
    Runtime& runtime_;
};

// Runs `list` for a control word: left to the evaluator while a
// DeferredCall lives, or else run to its end.
inline void run_list(Context& ctx, const TokenList& list) {
    switch (std::exchange(ctx.runtime.defer_call, Runtime::Defer::none)) {
        case Runtime::Defer::last: enter_last(ctx, list); return;
        case Runtime::Defer::frame: enter_list(ctx, list); return;
        case Runtime::Defer::none: call_list(ctx, list); return;
    }
}

// Calls a built-in control word so that the list it runs is left to the
// evaluator as a frame; as the last step of a list, a plain list takes
// over the caller's frame. True when the word ran nothing (iftrue on a
// false flag, times for no pass), so that the next step may follow at once.
bool call_control(Context& ctx, void (*word)(Context&), bool last);

// Pushes the value of `token`'s leading number; throws for a token with
// none: "unknown word", or "stod" when it is out of range.
void push_number(Context& ctx, const std::string& token);

}  // namespace forth
