#include <memory>
#include <utility>

#include "core/code.hpp"
#include "core/interpreter.hpp"
#include "core/interrupt.hpp"
#include "core/machine.hpp"
#include "core/stack_guard.hpp"

// The evaluator. Every token list and text runs as a frame on the Context's
// frame stack; a loop below runs the top frame's steps until the stack is
// back where it began. Lists keep their compiled steps between runs, and a
// step is looked up again when the dictionary or the aliases have changed
// since it was compiled, so every change takes effect at the next token.
namespace forth {

void underflow(const char* message) { throw std::out_of_range(message); }

void grow_and_push(Context& ctx, double value) {
    ctx.stack.reserve(ctx.stack.empty() ? 64 : 2 * ctx.stack.size());
    ctx.stack.push_back(value);
}

std::uint64_t new_generation() {
    static std::uint64_t last = 0;
    return ++last;
}

namespace {

unsigned char initial(const std::string& name) { return static_cast<unsigned char>(name.c_str()[0]); }

}  // namespace

void note_change(Context& ctx) { note_change(ctx, {}); }

void note_change(Context& ctx, const std::string& name) {
    Runtime& runtime = ctx.runtime;
    constexpr std::size_t changes_kept = 8;
    if (runtime.changes.size() == changes_kept) runtime.changes.pop_front();
    runtime.changes.push_back({runtime.generation, name});
    runtime.generation = new_generation();
    if (runtime.aliases_seen != ctx.aliases.size()) {
        runtime.alias_initials.reset();
        for (const auto& alias : ctx.aliases) runtime.alias_initials.set(initial(alias.first));
        runtime.aliases_seen = ctx.aliases.size();
    }
}

void define_word(Context& ctx, const std::string& name, Word word) {
    ctx.words[name] = std::move(word);
    note_change(ctx, name);
}

void define_alias(Context& ctx, const std::string& name, std::string replacement) {
    ctx.aliases[name] = std::move(replacement);
    note_change(ctx, name);
}

void push_number(Context& ctx, const std::string& token) {
    const LeadingNumber number = leading_number(token);
    if (!number.found) throw std::domain_error("unknown word - " + token);
    if (!number.in_range) throw std::out_of_range("stod");
    push(ctx, number.value);
}

namespace {

void set_text(Frame& frame, std::string_view text, std::shared_ptr<const std::string> owner = nullptr) {
    frame.kind = Frame::Kind::text;
    frame.text = std::make_unique<TextState>();
    frame.text->owner = std::move(owner);
    frame.text->text = text;
}

// A loop's state, kept from one that ended: a loop run again and again
// (inside a word called in another loop) allocates nothing.
LoopState& new_loop(Runtime& runtime, Frame& frame) {
    if (runtime.spare_loops.empty()) {
        frame.loop = std::make_unique<LoopState>();
    } else {
        frame.loop = std::move(runtime.spare_loops.back());
        runtime.spare_loops.pop_back();
    }
    return *frame.loop;
}

// One run of the evaluator, entered from native code. The frames it pushes
// are its own and go when it ends, normally or by an exception.
class Scope {
public:
    explicit Scope(Context& ctx) : runtime_(ctx.runtime), base_(ctx.runtime.frames.size()) {
        // Native code that re-enters the evaluator (a redefined closing word
        // that closes its own construct, nested files) still nests on the
        // machine's stack.
        if (runtime_.reentries >= max_reentry) too_deep();
        check_stack_depth();
        ++runtime_.reentries;
        runtime_.defer_call = Runtime::Defer::none;
    }
    ~Scope() {
        --runtime_.reentries;
        FrameStack& frames = runtime_.frames;
        while (frames.size() > base_) {
            runtime_.depth -= 1 + frames.back().tail_calls;
            frames.back().clear();
            frames.pop();
        }
        frames.shrink();
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    std::size_t base() const { return base_; }

private:
    Runtime& runtime_;
    std::size_t base_;
};

// A token met while a construct is open.
void collect(Context& ctx, std::string_view token) {
    if (token != ctx.terminator) {
        ctx.buffer.push_back(token);
        return;
    }
    // Looked up by name each time, so a redefined closing word runs instead.
    auto closing = ctx.words.find(ctx.terminator);
    if (closing == ctx.words.end()) {
        closing = ctx.words.try_emplace(ctx.terminator).first;
        note_change(ctx);
    }
    closing->second(ctx);
    ctx.terminator.clear();
}

// The next token of a text, as the standard formatted string extraction
// reads it in the classic locale; false at the end or at a lone backslash.
bool next_token(TextState& state) {
    const std::string_view text = state.text;
    std::size_t position = state.position;
    while (position < text.size() && is_blank(text[position])) ++position;
    const std::size_t start = position;
    while (position < text.size() && !is_blank(text[position])) ++position;
    state.position = position;
    if (start == position) return false;
    state.token.assign(text.substr(start, position - start));
    return state.token != "\\";
}

// Keeps the state of a loop that ends for the next loop to begin.
[[gnu::noinline]] void keep_loop(Runtime& runtime, Frame& frame) {
    constexpr std::size_t spare_loops_kept = 16;
    if (runtime.spare_loops.size() == spare_loops_kept) return;
    *frame.loop = LoopState{};
    runtime.spare_loops.push_back(std::move(frame.loop));
}

// Ends the top frame; `list` when it is known to be of kind list.
template <bool list = false>
inline void pop_frame(Runtime& runtime) {
    Frame& frame = runtime.frames.back();
    runtime.depth -= 1 + frame.tail_calls;
    if constexpr (list) {
        frame.clear_list();
    } else {
        if (frame.loop) keep_loop(runtime, frame);
        frame.clear();
    }
    runtime.frames.pop();
}

void step_text(Context& ctx, TextState& state) {
    if (!next_token(state)) {
        pop_frame(ctx.runtime);
        return;
    }
    if (!ctx.terminator.empty()) {
        collect(ctx, state.token);
        return;
    }
    Step step = compile_token(ctx, state.token, true);
    step.run(ctx, step);
}

// Starts the next pass of a times loop whose list has run to its end;
// false when the loop is done.
inline bool next_pass(std::int32_t& index, std::int32_t passes, double* counter) {
    if (index == passes) return false;
    poll_interrupt();
    *counter = index++;
    return true;
}

inline bool next_pass(LoopState& loop) { return next_pass(loop.index, loop.passes, loop.counter); }

// True when every step of the list, which has run, is current and runs
// straight on: then no step can change the tables, open a construct or push
// a frame, so whole passes of a loop over it need no bookkeeping between
// steps.
bool all_straight(const ListNode* node, std::uint64_t generation) {
    if (node == nullptr) return true;
    Code& code = *node->code;
    if (code.straight_at == generation) return true;
    for (std::uint32_t pc = 0; pc < node->size(); pc = code.steps[pc].next) {
        const Step& step = code.steps[pc];
        if (step.generation != generation || !runs_straight_on(step.op)) return false;
    }
    code.straight_at = generation;
    return true;
}

// Calls `loop` with what runs the steps of such a list: its one step alone
// when it has only one, since a loop's body often has, and loops run it
// again and again.
template <typename Loop>
void with_steps(const ListNode* node, const Loop& loop) {
    const StraightSteps steps(node);
    if (Step* const only = steps.only()) {
        loop([only](Context& ctx) { only->run(ctx, *only); });
    } else {
        loop([&steps](Context& ctx) { steps.run(ctx); });
    }
}

// The remaining passes of a times loop over such a list, from the start of
// the next one, and the end of its frame.
void finish_times(Context& ctx, const ListNode* body, const LoopState& loop) {
    // Counted in locals: no step of such a list looks at the loop.
    std::int32_t index = loop.index;
    const std::int32_t passes = loop.passes;
    double* const counter = loop.counter;
    with_steps(body, [&](const auto& run_body) {
        do {
            run_body(ctx);
        } while (next_pass(index, passes, counter));
    });
    pop_frame(ctx.runtime);
}

// The remaining passes of a repeat loop over such lists, from the test of
// the flag its condition left, and the end of its frame.
void finish_repeat(Context& ctx, const ListNode* body, const ListNode* condition, const LoopState& loop) {
    with_steps(body, [&](const auto& run_body) {
        with_steps(condition, [&](const auto& run_condition) {
            // IEEE: never equal when either is NaN
            while (pop(ctx) != loop.stop) {
                poll_interrupt();
                run_body(ctx);
                run_condition(ctx);
            }
        });
    });
    pop_frame(ctx.runtime);
}

// The list a frame runs now: its own, or its loop's condition.
inline ListNode* running_list(const Frame& frame) {
    return frame.kind == Frame::Kind::repeat_condition ? frame.loop->condition.node() : frame.list.node();
}

// A list has run to its end: its loop goes on with the next list to run
// (true), or the frame ends.
inline bool end_of_list(Context& ctx, Frame& frame) {
    switch (frame.kind) {
        case Frame::Kind::times:
            if (!next_pass(*frame.loop)) break;
            frame.pc = 0;
            return true;
        case Frame::Kind::repeat_body:
            frame.kind = Frame::Kind::repeat_condition;
            frame.pc = 0;
            return true;
        case Frame::Kind::repeat_condition:
            // IEEE: never equal when either is NaN
            if (pop(ctx) == frame.loop->stop) break;
            poll_interrupt();
            frame.kind = Frame::Kind::repeat_body;
            frame.pc = 0;
            return true;
        case Frame::Kind::list:
        case Frame::Kind::text:
            break;
    }
    pop_frame(ctx.runtime);
    return false;
}

// Runs compiled steps from the top frame on, into the frames that calls
// push and back out of them, while nothing needs the evaluator to look at
// its state again: a text frame, a construct left open, or `base` reached.
void run_steps(Context& ctx, std::size_t base) {
    Runtime& runtime = ctx.runtime;
    FrameStack& frames = runtime.frames;
    std::uint64_t generation = runtime.generation;
    Frame* frame = &frames.back();
    for (;;) {
        if (ListNode* const node = running_list(*frame)) {
            const auto size = static_cast<std::uint32_t>(node->size());
            Step* const steps = code_of(*node).steps.data();
            std::uint32_t pc = frame->pc;
            for (;;) {
                while (pc < size) {
                    Step& step = steps[pc];
                    if (step.generation != generation) refresh_step(ctx, *node, pc, step);
                    pc = step.next;
                    frame->pc = pc;
                    // A call changes nothing but the frames: the evaluator
                    // goes on in the callee's without looking at the rest.
                    if (step.op == Op::call_user) {
                        frame = &enter_node(ctx, step.body, step.last);
                        goto next_frame;
                    }
                    if (const Next next = step.run(ctx, step); next != Next::follow) {
                        if (next == Next::look) goto look_again;
                        frame = &frames.back();
                        goto next_frame;
                    }
                    // Read back rather than kept across the step: one
                    // register fewer for the loop.
                    pc = frame->pc;
                }
                if (frame->kind != Frame::Kind::times || !next_pass(*frame->loop)) break;
                pc = 0;
                if (all_straight(node, generation)) {
                    finish_times(ctx, node, *frame->loop);
                    goto look_again;
                }
            }
        }
        if (frame->kind == Frame::Kind::list) {
            // Only straight-on steps ran since the state was last looked
            // at: popping the frame is all that changes.
            pop_frame<true>(runtime);
            if (frames.size() <= base) return;
            frame = &frames.back();
            if (frame->kind == Frame::Kind::text) return;
            continue;
        } else if (frame->kind == Frame::Kind::repeat_condition && all_straight(frame->list.node(), generation) &&
                   all_straight(frame->loop->condition.node(), generation)) {
            finish_repeat(ctx, frame->list.node(), frame->loop->condition.node(), *frame->loop);
        } else if (end_of_list(ctx, *frame)) {
            continue;
        }
    look_again:
        if (frames.size() <= base || !ctx.terminator.empty() || runtime.plain) return;
        frame = &frames.back();
        if (frame->kind == Frame::Kind::text) return;
        generation = runtime.generation;
    next_frame:;
    }
}

// One token of the top frame's list, resolved the long way: while a
// construct collects, or when tests ask for it.
void resolve_next(Context& ctx, Frame& frame) {
    ListNode* const node = running_list(frame);
    if (node == nullptr || frame.pc >= node->size()) {
        end_of_list(ctx, frame);
    } else if (!ctx.terminator.empty()) {
        collect(ctx, node->token(frame.pc++));
    } else {
        Step step = compile_token(ctx, std::string(node->token(frame.pc++)), true);
        step.run(ctx, step);
    }
}

// Runs frames until the stack is back to `base` frames.
void drive(Context& ctx, std::size_t base) {
    FrameStack& frames = ctx.runtime.frames;
    while (frames.size() > base) {
        Frame& frame = frames.back();
        if (frame.kind == Frame::Kind::text) {
            step_text(ctx, *frame.text);
        } else if (!ctx.terminator.empty() || ctx.runtime.plain) {
            resolve_next(ctx, frame);
        } else {
            run_steps(ctx, base);
        }
    }
}

// Runs a new frame, made by `fill`, to its end, or leaves it to the
// evaluator that asked for it.
template <typename Fill>
void call(Context& ctx, const Fill& fill) {
    if (std::exchange(ctx.runtime.defer_call, Runtime::Defer::none) != Runtime::Defer::none) {
        fill(push_frame(ctx));
        return;
    }
    const Scope scope(ctx);
    fill(push_frame(ctx));
    drive(ctx, scope.base());
}

}  // namespace

void too_deep() { throw std::runtime_error("recursion too deep"); }

bool call_control(Context& ctx, void (*word)(Context&), bool last) {
    const DeferredCall deferred(ctx, last);
    word(ctx);
    return deferred.ran_nothing();
}

void evaluate(Context& ctx, const std::string& source, TextPosition* failed_at) {
    const Scope scope(ctx);
    set_text(push_frame(ctx), source);
    try {
        drive(ctx, scope.base());
    } catch (...) {
        // Read before the scope takes the text's frame away; nothing is kept
        // on the way for an error that may never come.
        if (failed_at != nullptr) {
            const TextState& text = *ctx.runtime.frames[scope.base()].text;
            failed_at->begin = text.position - text.token.size();
            failed_at->end = text.position;
        }
        throw;
    }
}

void resolve(Context& ctx, const std::string& token, bool expand_aliases) {
    const Scope scope(ctx);
    if (!ctx.terminator.empty()) {
        collect(ctx, token);
        return;
    }
    Step step = compile_token(ctx, token, expand_aliases);
    step.run(ctx, step);
    drive(ctx, scope.base());
}

void run(Context& ctx, const TokenList& tokens) {
    call(ctx, [&](Frame& frame) { frame.list = tokens; });
}

void call_list(Context& ctx, TokenList list) {
    if (ctx.runtime.defer_call != Runtime::Defer::none) {
        run_list(ctx, list);
    } else {
        call(ctx, [&](Frame& frame) { frame.list = std::move(list); });
    }
}

void call_times(Context& ctx, TokenList body, std::int32_t passes) {
    call(ctx, [&](Frame& frame) {
        frame.kind = Frame::Kind::times;
        frame.pc = static_cast<std::uint32_t>(body.size());  // the first pass starts at once
        frame.list = std::move(body);
        LoopState& loop = new_loop(ctx.runtime, frame);
        loop.passes = passes;
        loop.counter = &ctx.variables["i"];
    });
}

void call_repeat(Context& ctx, TokenList body, TokenList condition, double stop) {
    call(ctx, [&](Frame& frame) {
        frame.kind = Frame::Kind::repeat_body;
        frame.list = std::move(body);
        LoopState& loop = new_loop(ctx.runtime, frame);
        loop.condition = std::move(condition);
        loop.stop = stop;
    });
}

void call_text(Context& ctx, std::string text) {
    // Text that interprets itself shares one copy between all its frames.
    std::shared_ptr<const std::string> owner;
    if (const auto& frames = ctx.runtime.frames; !frames.empty() && frames.back().text) {
        const auto& caller = frames.back().text->owner;
        if (caller && *caller == text) owner = caller;
    }
    if (!owner) owner = std::make_shared<const std::string>(std::move(text));
    const std::string_view view = *owner;
    call(ctx, [&](Frame& frame) { set_text(frame, view, std::move(owner)); });
}

}  // namespace forth
