#include "engine/frames.hpp"

#include <algorithm>
#include <stdexcept>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/retired.hpp"
#include "core/trap.hpp"
#include "engine/places.hpp"
#include "engine/profiler.hpp"

namespace forth {

namespace {

ListNode& list_or_empty(Context& ctx, ListNode* node) { return node != nullptr ? *node : empty_list(ctx); }

// Whether `node` runs by instructions when it begins a run now.
bool ran_before(Context& ctx, const ListNode& node) {
    return node.code != nullptr || node.ran || evaluator(ctx).eager;
}

// Text states of frames that ended are kept for the next texts. Room for
// all that are kept is made at once, so that keeping one, which frames
// ending by an exception do, cannot throw.
constexpr std::size_t spare_texts_kept = 16;

void enter_text(Context& ctx, std::string text) {
    Evaluator& state = evaluator(ctx);
    // Text that interprets itself shares one copy between all its frames.
    std::shared_ptr<const std::string> owner;
    if (const FrameStack& frames = state.frames; !frames.empty() && frames.back().kind == Run::text) {
        const auto& caller = frames.back().text->owner;
        if (caller && *caller == text) owner = caller;
    }
    if (!owner) owner = std::make_shared<const std::string>(std::move(text));
    const std::string_view view = *owner;
    std::unique_ptr<TextState> made = new_text(ctx, std::move(owner), view);
    if (state.tracking) {
        made->start = running_origin(state);
        made->placed = false;
    }
    push_text(ctx, std::move(made));
}

bool in_use(const void* object, void* set) {
    return static_cast<std::unordered_set<const void*>*>(set)->contains(object);
}

}  // namespace

void leave_instructions(Frame& frame) {
    const Code& code = *frame.code;
    if (code.condition != nullptr && static_cast<std::size_t>(frame.ip - code.first()) >= code.split) {
        std::swap(frame.node, frame.repeat.other);
        frame.kind = Run::condition;
    }
    to_tokens(frame, token_of(code, frame.ip));
}

bool runs_compiled(Context& ctx, ListNode& node) {
    if (ran_before(ctx, node)) return true;
    node.ran = true;
    return false;
}

void start(Context& ctx, Frame& frame) {
    if (!instructions_allowed(ctx) || !runs_compiled(ctx, *frame.node)) {
        to_tokens(frame, 0);
        return;
    }
    Code* code = nullptr;
    if (frame.kind == Run::body && ran_before(ctx, *frame.repeat.other)) {
        Code& body = current_code(ctx, *frame.node, Run::once);
        const Code& condition = current_code(ctx, *frame.repeat.other, Run::once);
        if (body.straight && condition.straight) code = &repeat_loop(body, condition);
    }
    if (code == nullptr) code = &current_code(ctx, *frame.node, frame.kind);
    frame.code = code;
    frame.ip = code->first();
}

void begin_pass(Context& ctx, Frame& frame) {
    sweep_when_many_retired(ctx);
    start(ctx, frame);
}

void call_list(Context& ctx, ListNode* node) { start(ctx, push_frame(ctx, Run::once, node)); }

Code* ready_to_call(Context& ctx, ListNode& node) {
    if (!ran_before(ctx, node)) {
        call_list(ctx, &node);
        return nullptr;
    }
    Code& code = current_code(ctx, node, Run::once);
    FrameStack& frames = evaluator(ctx).frames;
    if (frames.top() + 1 == frames.limit()) make_room(ctx);
    poll(ctx);
    return &code;
}

void enter(Context& ctx, Entry entry) {
    switch (entry.run) {
        case Run::once:
            call_list(ctx, &list_or_empty(ctx, entry.list.node()));
            return;
        case Run::times:
            enter_times(ctx, entry.list.node(), entry.passes);
            return;
        case Run::body:
            enter_repeat(ctx, entry.list.node(), entry.condition.node(), entry.stop);
            return;
        case Run::text:
            enter_text(ctx, std::move(entry.text));
            return;
        default:
            return;
    }
}

void enter_times(Context& ctx, ListNode* body, std::int32_t passes) {
    Frame& frame = push_frame(ctx, Run::times, &list_or_empty(ctx, body));
    frame.times.counter = &ctx.variables["i"];
    frame.times.index = 0;
    frame.times.passes = passes;
    start(ctx, frame);
    // The first pass polls as every pass does.
    poll(ctx);
    *frame.times.counter = frame.times.index++;
}

void enter_repeat(Context& ctx, ListNode* body, ListNode* condition, double stop) {
    Frame& frame = push_frame(ctx, Run::body, &list_or_empty(ctx, body));
    frame.repeat.other = &list_or_empty(ctx, condition);
    frame.repeat.stop = stop;
    start(ctx, frame);
}

Evaluator::Evaluator() : empty(new ListNode) {
    empty.node()->frozen = true;
    spare_texts.reserve(spare_texts_kept);
}

Evaluator::~Evaluator() = default;

void end_text(Evaluator& state, TextState* text) {
    std::unique_ptr<TextState> kept(text);
    kept->owner.reset();
    if (state.spare_texts.size() < spare_texts_kept) state.spare_texts.push_back(std::move(kept));
}

void make_room(Context& ctx, std::size_t calls) {
    if (!evaluator(ctx).frames.make_room(max_depth, calls)) throw std::runtime_error("recursion too deep");
}

void count_in_place(Context& ctx, std::uint8_t calls) {
    make_room(ctx, calls);
    poll(ctx);
}

void service_poll(Context& ctx) {
    Runtime& runtime = ctx.runtime;
    Evaluator& state = evaluator(ctx);
    // A hook is called at every call and pass, and tokens run one by one
    // look at the state after each: for those the trap stays set.
    reset_trap(runtime, state.on_poll || !instructions_allowed(ctx));
    poll_interrupt(runtime);
    if (state.on_poll) {
        state.on_poll(ctx);
        forget_joined_text(runtime);
    }
}

void after_change(Context& ctx) {
    Runtime& runtime = ctx.runtime;
    Evaluator& state = evaluator(ctx);
    // Requests and the poll hook are taken at the next call or pass, as the
    // token-by-token way takes them.
    reset_trap(runtime, static_cast<bool>(state.on_poll));
    Frame& frame = state.frames.back();
    if (state.tracking && !ctx.terminator.empty()) note_opened(state);
    if (!instructions_allowed(ctx)) {
        leave_instructions(frame);
    } else if (frame.code->generation != runtime.generation) {
        revalidate(ctx, frame);
    }
    sweep_when_many_retired(ctx);
}

const Instr* entry_for(const Context& ctx, const Code& code, std::uint32_t token) {
    const Instr* const at = code.entry_at(token);
    if (at == nullptr || at->op != Op::guard) return at;
    // A run that would take more than the stack holds runs its tokens one by one.
    const auto below = (static_cast<std::int64_t>(ctx.stack.size()) - 1) * static_cast<std::int64_t>(sizeof(double));
    return below < at->operand.guard.below ? nullptr : at;
}

void revalidate(Context& ctx, Frame& frame) {
    if (frame.ip == by_tokens_instr()) return;
    if (frame.code->condition != nullptr) {
        leave_instructions(frame);
        return;
    }
    const std::uint32_t token = token_of(*frame.code, frame.ip);
    Code& code = current_code(ctx, *frame.node, frame.kind);
    if (&code == frame.code) return;
    if (const Instr* const at = entry_for(ctx, code, token)) {
        frame.code = &code;
        frame.ip = at;
    } else {
        to_tokens(frame, token);
    }
}

void call_word(Context& ctx, const Word& word) {
    // A copy: the word may replace itself while it runs.
    const Word copy = word;
    copy(ctx);
    forget_joined_text(ctx.runtime);
}

void call_sigil(Context& ctx, const Named& named) {
    if (named.row != nullptr) {
        named.row->sigil(ctx, named.name);
    } else {
        const SigilHandler handler = *named.handler;
        handler(ctx, named.name);
        forget_joined_text(ctx.runtime);
    }
}

void variable_sigil(Context& ctx, const Named& named) {
    named.row->sigil(ctx, named.name);
    if (!ctx.variables.contains(named.name)) return;
    // The code that ran it works on the variable itself once compiled
    // anew, which the look at the state that follows does.
    Code& code = *evaluator(ctx).frames.back().code;
    code.generation = 0;
    if (code.owner != nullptr) code.owner->generation = 0;
}

void push_text(Context& ctx, std::unique_ptr<TextState> text) {
    Frame& frame = push_frame(ctx, Run::text, nullptr);  // before the release: it may throw
    frame.text = text.release();
}

std::unique_ptr<TextState> new_text(Context& ctx, std::shared_ptr<const std::string> owner, std::string_view text) {
    std::vector<std::unique_ptr<TextState>>& spare = evaluator(ctx).spare_texts;
    std::unique_ptr<TextState> state;
    if (spare.empty()) {
        state = std::make_unique<TextState>();
    } else {
        state = std::move(spare.back());
        spare.pop_back();
    }
    state->owner = std::move(owner);
    state->text = text;
    state->position = 0;
    return state;
}

void sweep_when_many_retired(Context& ctx) {
    Evaluator& state = evaluator(ctx);
    RetiredLists& retired = ctx.retired;
    if (retired.size() < state.sweep_threshold) return;
    std::unordered_set<const void*> used;
    const FrameStack& frames = state.frames;
    for (std::size_t index = 0; index < frames.size(); ++index) {
        const Frame& frame = frames[index];
        used.insert(frame.code);
        used.insert(frame.code->owner);
        used.insert(frame.node);
        if (frame.kind == Run::body || frame.kind == Run::condition) used.insert(frame.repeat.other);
    }
    retired.sweep(in_use, &used);
    state.sweep_threshold = std::max<std::size_t>(4096, 2 * retired.size());
}

}  // namespace forth
