#include "engine/driver.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/retired.hpp"
#include "core/streams.hpp"
#include "core/trap.hpp"
#include "core/user_word.hpp"
#include "engine/code.hpp"
#include "engine/evaluate.hpp"
#include "engine/stack_guard.hpp"

// The driver: it runs the frames, handing each to the evaluator's loop
// while it can run by instructions, and running it token by token (the
// long way, as resolve says) while a construct collects, in plain mode, and
// for source text. Both ways push the same frames and poll at the same
// calls and passes, so a run may go from one to the other at any token.
namespace forth {

namespace {

bool fast_allowed(const Context& ctx) { return !ctx.runtime.plain && ctx.terminator.empty(); }


Role role_of(Frame::Kind kind) {
    switch (kind) {
        case Frame::Kind::times:
            return Role::times;
        case Frame::Kind::repeat_body:
            return Role::body;
        case Frame::Kind::repeat_condition:
            return Role::condition;
        default:
            return Role::call;  // list, tail
    }
}

// Makes `frame` go on token by token from `pc`.
void to_slow(Frame& frame, std::uint32_t pc) {
    frame.pc = pc;
    frame.ip = exit_instr();
    frame.code = &exit_code();
}

// Makes `frame`, running instructions, go on token by token from where
// they stand. A repeat loop's pass in one code stands in its body or its
// condition.
void leave_instructions(Frame& frame) {
    const Code& code = *frame.code;
    if (code.second != nullptr && static_cast<std::size_t>(frame.ip - code.first()) >= code.split) {
        std::swap(frame.node, frame.repeat.other);
        frame.kind = Frame::Kind::repeat_condition;
    }
    to_slow(frame, frame.ip->token);
}

void poll(Context& ctx) {
    if (ctx.runtime.trap) service_poll(ctx);
}

ListNode& list_or_empty(ListNode* node) { return node != nullptr ? *node : empty_list(); }

// Pushes a frame of `kind` that runs `node` token by token from its start:
// a call, counted toward the depth and polled.
Frame& push(Context& ctx, Frame::Kind kind, ListNode* node) {
    FrameStack& frames = ctx.runtime.frames;
    if (frames.top() + 1 == frames.limit()) make_room(ctx);
    poll(ctx);
    Frame* const frame = frames.top() + 1;
    frames.set_top(frame);
    frame->kind = kind;
    frame->node = node;
    // A list that runs never changes: what collecting adds to it goes to a copy.
    if (node != nullptr) node->frozen = true;
    to_slow(*frame, 0);
    return *frame;
}

// Text states of frames that ended, for the next texts: evaluating a line
// allocates nothing. Room for all that are kept is made at once, so that
// keeping one, which frames ending by an exception do, cannot throw.
constexpr std::size_t spare_texts_kept = 16;
std::vector<std::unique_ptr<TextState>>& spare_texts() {
    static std::vector<std::unique_ptr<TextState>> spare = [] {
        std::vector<std::unique_ptr<TextState>> made;
        made.reserve(spare_texts_kept);
        return made;
    }();
    return spare;
}

std::unique_ptr<TextState> new_text(std::shared_ptr<const std::string> owner, std::string_view text) {
    std::vector<std::unique_ptr<TextState>>& spare = spare_texts();
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

void end_text(TextState* text) {
    std::unique_ptr<TextState> state(text);
    state->owner.reset();
    if (spare_texts().size() < spare_texts_kept) spare_texts().push_back(std::move(state));
}

void pop_frame(Context& ctx) {
    FrameStack& frames = ctx.runtime.frames;
    if (frames.back().kind == Frame::Kind::text) end_text(frames.back().text);
    frames.pop(max_depth);
}

// Where the token of `state` that begins at `at` was read.
Origin text_origin(TextState& state, std::size_t at) {
    if (!state.placed) return state.start;
    if (at < state.counted) state.counted = state.lines = state.line_start = 0;
    for (; state.counted < at; ++state.counted) {
        if (state.text[state.counted] == '\n') {
            ++state.lines;
            state.line_start = state.counted + 1;
        }
    }
    const std::size_t column = at - state.line_start + (state.lines == 0 ? state.start.column : 0);
    return {state.start.source, static_cast<std::uint32_t>(state.start.line + state.lines),
            static_cast<std::uint32_t>(column)};
}

// The token `frame` runs and where it was read. A frame running by
// instructions stands after the one it runs (or, at its start, on it).
std::pair<const ListNode*, std::uint32_t> running_token(const Frame& frame) {
    if (frame.ip == exit_instr() || frame.kind == Frame::Kind::barrier)
        return {frame.node, frame.pc == 0 ? 0 : frame.pc - 1};
    const Code& code = *frame.code;
    const auto [node, token] = position(code, frame.ip > code.first() ? frame.ip - 1 : frame.ip);
    return {code.second != nullptr ? node : frame.node, token};
}

Place place_of(const Runtime& runtime, Origin origin, std::string_view token) {
    Place place;
    if (origin.source != 0) {
        place.source = runtime.sources[origin.source - 1];
        place.line = origin.line;
        place.column = origin.column;
    }
    place.token.assign(token);
    return place;
}

bool same_place(const Place& one, const Place& other) {
    return one.source == other.source && one.line == other.line && one.column == other.column &&
           one.token == other.token;
}

// The place of the token `frame` runs; false for a frame that runs none.
bool running_place(const Runtime& runtime, Frame& frame, Place& place) {
    if (frame.kind == Frame::Kind::text) {
        TextState& state = *frame.text;
        place = place_of(runtime, text_origin(state, state.position - state.token.size()), state.token);
        return true;
    }
    const auto [node, index] = running_token(frame);
    if (node == nullptr || node->size() == 0) return false;
    const std::uint32_t token = std::min<std::uint32_t>(index, static_cast<std::uint32_t>(node->size() - 1));
    place = place_of(runtime, node->origin(token), node->token(token));
    return true;
}

Origin running_origin(Context& ctx) {
    Runtime& runtime = ctx.runtime;
    for (std::size_t index = runtime.frames.size(); index-- > 0;) {
        Frame& frame = runtime.frames[index];
        if (frame.kind == Frame::Kind::text) {
            TextState& state = *frame.text;
            return text_origin(state, state.position - state.token.size());
        }
        if (frame.node == nullptr) continue;  // native code runs: the frame below called it
        const auto [node, token] = running_token(frame);
        return node->origin(token);
    }
    return {};
}

// A construct has just opened: where, for the warning of one left open.
void note_opened(Context& ctx) {
    Runtime& runtime = ctx.runtime;
    for (std::size_t index = runtime.frames.size(); index-- > 0;) {
        if (running_place(runtime, runtime.frames[index], runtime.opened)) return;
    }
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

void enter_text(Context& ctx, std::string text) {
    // Text that interprets itself shares one copy between all its frames.
    std::shared_ptr<const std::string> owner;
    if (const FrameStack& frames = ctx.runtime.frames; !frames.empty() && frames.back().kind == Frame::Kind::text) {
        const auto& caller = frames.back().text->owner;
        if (caller && *caller == text) owner = caller;
    }
    if (!owner) owner = std::make_shared<const std::string>(std::move(text));
    const std::string_view view = *owner;
    std::unique_ptr<TextState> state = new_text(std::move(owner), view);
    if (ctx.runtime.tracking) {
        state->start = running_origin(ctx);
        state->placed = false;
    }
    Frame& frame = push(ctx, Frame::Kind::text, nullptr);  // before the release: it may throw
    frame.text = state.release();
}

// The opening word of a list collected inside an open list of its kind
// opens nothing: the first closing word ends the outer list. Said where it
// happened in source text, while places are tracked. (A list's own tokens
// are no source text: it may run them as one construct, collecting none.)
void warn_if_nested(Context& ctx, const std::string& token, Origin origin) {
    const Runtime& runtime = ctx.runtime;
    if (token != runtime.opened.token || (ctx.terminator != "]" && ctx.terminator != "}")) return;
    if (runtime.frames.back().kind != Frame::Kind::text) return;
    const Place place = place_of(runtime, origin, token);
    *ctx.err << "Warning: " << token << " collected inside an open " << token;
    if (!place.source.empty()) *ctx.err << " at " << place.source << ':' << place.line;
    *ctx.err << "; the next " << ctx.terminator << " ends the outer one" << std::endl;
    check_errors(ctx);
}

// A token met while a construct is open.
void collect(Context& ctx, const std::string& token) {
    if (token != ctx.terminator) {
        if (ctx.runtime.tracking) {
            const Origin origin = running_origin(ctx);
            ctx.buffer.push_back(token, origin);
            warn_if_nested(ctx, token, origin);
        } else {
            ctx.buffer.push_back(token);
        }
        return;
    }
    // Looked up by name each time, so a redefined closing word runs instead.
    auto closing = ctx.words.find(ctx.terminator);
    if (closing == ctx.words.end()) {
        closing = ctx.words.try_emplace(ctx.terminator).first;
        note_change(ctx);
    }
    call_word(ctx, closing->second);
    ctx.terminator.clear();
}

void run_word(Context& ctx, Word& word) {
    if (const auto* builtin = word.target<BuiltinWord>()) {
        const Builtin& row = *builtin->row;
        if (row.kind == Kind::control) {
            enter(ctx, row.enter(ctx));
        } else {
            row.word(ctx);
        }
    } else if (const auto* user_word = word.target<UserWord>()) {
        start(ctx, push(ctx, Frame::Kind::list, &list_or_empty(user_word->body.node())));
    } else {
        call_word(ctx, word);
    }
}

bool in_use(const void* object, void* set) {
    return static_cast<std::unordered_set<const void*>*>(set)->contains(object);
}

void sweep_when_many_retired() {
    static std::size_t threshold = 4096;
    if (retired_count() < threshold) return;
    std::unordered_set<const void*> used;
    for (const FrameStack* frames : FrameStack::all()) {
        for (std::size_t index = 0; index < frames->size(); ++index) {
            const Frame& frame = (*frames)[index];
            used.insert(frame.code);
            used.insert(frame.code->owner);
            used.insert(frame.node);
            if (frame.kind == Frame::Kind::repeat_body || frame.kind == Frame::Kind::repeat_condition)
                used.insert(frame.repeat.other);
        }
    }
    sweep_retired(in_use, &used);
    threshold = std::max<std::size_t>(4096, 2 * retired_count());
}

// A loop's frame, run token by token, begins a pass of its list: by
// instructions from the second.
void begin_again(Context& ctx, Frame& frame) {
    frame.pc = 0;
    if (fast_allowed(ctx) && runs_compiled(ctx, *frame.node)) start(ctx, frame);
}

// A list has run to its end, token by token: its frame ends, or its loop
// goes on, as the ops that end a list do it by instructions.
void end_of_list(Context& ctx, Frame& frame) {
    switch (frame.kind) {
        case Frame::Kind::times:
            if (frame.times.index == frame.times.passes) break;
            poll(ctx);
            *frame.times.counter = frame.times.index++;
            begin_again(ctx, frame);
            return;
        case Frame::Kind::repeat_body:
            std::swap(frame.node, frame.repeat.other);
            frame.kind = Frame::Kind::repeat_condition;
            begin_again(ctx, frame);
            return;
        case Frame::Kind::repeat_condition:
            // IEEE: never equal when either is NaN
            if (pop(ctx) == frame.repeat.stop) break;
            poll(ctx);
            std::swap(frame.node, frame.repeat.other);
            frame.kind = Frame::Kind::repeat_body;
            begin_again(ctx, frame);
            return;
        default:
            break;
    }
    pop_frame(ctx);
    sweep_when_many_retired();
}

void step_text(Context& ctx, Frame& frame) {
    TextState& state = *frame.text;
    if (!next_token(state)) {
        pop_frame(ctx);
        return;
    }
    if (ctx.runtime.trace) [[unlikely]]
        ctx.runtime.trace(ctx);
    resolve_token(ctx, state.token, true);
}

void step_slowly(Context& ctx, Frame& frame) {
    if (frame.ip != exit_instr()) leave_instructions(frame);
    const ListNode& node = *frame.node;
    if (frame.pc < node.size()) {
        const std::string token(node.token(frame.pc++));
        if (ctx.runtime.trace) [[unlikely]]
            ctx.runtime.trace(ctx);
        resolve_token(ctx, token, true);
        return;
    }
    end_of_list(ctx, frame);
}

// Runs frames until only `base` are left.
void drive(Context& ctx, std::size_t base) {
    FrameStack& frames = ctx.runtime.frames;
    while (frames.size() > base) {
        Frame& frame = frames.back();
        if (frame.kind == Frame::Kind::text) {
            step_text(ctx, frame);
        } else {
            if (fast_allowed(ctx)) {
                if (frame.ip == exit_instr() && frame.node->code != nullptr) {
                    Code& code = current_code(ctx, *frame.node, role_of(frame.kind));
                    if (const Instr* const at = code.entry_at(frame.pc)) {
                        frame.code = &code;
                        frame.ip = at;
                    }
                } else if (frame.code->generation != ctx.runtime.generation) {
                    revalidate(ctx, frame);
                }
            }
            if (fast_allowed(ctx) && frame.ip != exit_instr()) {
                run_engine(ctx);
            } else {
                step_slowly(ctx, frame);
            }
        }
    }
}

// One run of the evaluator, entered from native code: a barrier frame on
// top, above which it runs its own frames, which go when it ends, normally
// or by an exception.
class Scope {
public:
    explicit Scope(Context& ctx) : runtime_(ctx.runtime) {
        // Native code that re-enters the evaluator (a redefined closing word
        // that closes its own construct, nested files) still nests on the
        // machine's stack. A few runs inside one another cannot use it up:
        // the guard, which reads the stack's bounds once (a tenth of what
        // starting the program costs), is asked only past them.
        constexpr std::size_t unguarded = 16;
        if (runtime_.reentries >= max_reentry) throw std::runtime_error("recursion too deep");
        if (runtime_.reentries >= unguarded) check_stack_depth();
        Frame& barrier = runtime_.frames.push_barrier(max_depth);
        barrier.kind = Frame::Kind::barrier;
        barrier.node = nullptr;
        to_slow(barrier, 0);
        base_ = runtime_.frames.size();
        ++runtime_.reentries;
    }
    ~Scope() {
        // An error leaves (no run of the evaluator begins while one is on
        // its way): the first run it leaves notes the chain of tokens that
        // led to it, while every frame is still there.
        if (runtime_.tracking && !runtime_.chain_noted && std::uncaught_exceptions() > 0) note_chain();
        FrameStack& frames = runtime_.frames;
        while (frames.size() > base_) {
            if (frames.back().kind == Frame::Kind::text) end_text(frames.back().text);
            frames.pop(max_depth);
        }
        frames.pop_barrier(max_depth);
        if (--runtime_.reentries == 0) frames.shrink(max_depth);
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    std::size_t base() const { return base_; }

private:
    void note_chain() noexcept {
        try {
            runtime_.chain = running_chain(runtime_);
            runtime_.chain_noted = true;
        } catch (...) {
            runtime_.chain.clear();  // out of memory: the error goes without its chain
        }
    }

    const KeepRetired keep_retired_;  // destroyed last, once the frames are gone
    Runtime& runtime_;
    std::size_t base_ = 0;
};

// A control word called from native code: what it says, run to its end.
template <Row which>
void run_control(Context& ctx) {
    const Scope scope(ctx);
    enter(ctx, row(which).enter(ctx));
    drive(ctx, scope.base());
}

}  // namespace

LeadingNumber leading_number(const std::string& token) {
    // Most numbers in source text are a few decimal digits, exact as a
    // double: strtod would give the same value at many times the cost.
    const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!token.empty() && token.size() <= 15 && std::all_of(token.begin(), token.end(), is_digit)) {
        std::int64_t whole = 0;
        for (const char digit : token) whole = whole * 10 + (digit - '0');
        return {static_cast<double>(whole), true, true};
    }
    const char* const start = token.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(start, &end);
    return {value, end != start, errno != ERANGE};
}

void push_number(Context& ctx, const std::string& token) {
    const LeadingNumber number = leading_number(token);
    if (!number.found || !number.in_range) no_number(token);
    push(ctx, number.value);
}

void no_number(const std::string& token) {
    if (!leading_number(token).found) throw std::domain_error("unknown word - " + token);
    throw std::out_of_range("stod");
}

void resolve_token(Context& ctx, const std::string& token, bool expand_aliases) {
    if (!ctx.terminator.empty()) {
        collect(ctx, token);
        return;
    }
    if (expand_aliases && ctx.runtime.alias_initials.test(static_cast<unsigned char>(token.c_str()[0]))) {
        if (const auto alias = ctx.aliases.find(token); alias != ctx.aliases.end()) {
            // A copy: resolving it may replace the alias.
            const std::string replacement = alias->second;
            resolve_token(ctx, replacement, false);
            return;
        }
    }
    if (Word* const word = find_word(ctx, token)) {
        run_word(ctx, *word);
        if (ctx.runtime.tracking && !ctx.terminator.empty()) note_opened(ctx);
        return;
    }
    // token[0] of an empty token is its terminating NUL, which is no sigil.
    if (const auto sigil = ctx.sigils.find(token[0]); sigil != ctx.sigils.end()) {
        const std::string name = token.substr(1);
        if (const Builtin* row = row_of(sigil->second)) {
            row->sigil(ctx, name);
        } else {
            const SigilHandler handler = sigil->second;
            handler(ctx, name);
        }
        if (ctx.runtime.tracking && !ctx.terminator.empty()) note_opened(ctx);
        return;
    }
    push_number(ctx, token);
}

void run_tokens(Context& ctx, const Frame& frame, std::uint32_t first, std::uint32_t end) {
    const ListNode& node = *frame.node;
    // A call among them runs to its end before the next token.
    const Scope scope(ctx);
    // The barrier says which token runs, for the places of errors.
    Frame& barrier = ctx.runtime.frames[scope.base() - 1];
    barrier.node = frame.node;
    for (std::uint32_t position = first; position < end; ++position) {
        barrier.pc = position + 1;
        resolve_token(ctx, std::string(node.token(position)), true);
        drive(ctx, scope.base());
    }
}

void start(Context& ctx, Frame& frame) {
    if (!fast_allowed(ctx) || !runs_compiled(ctx, *frame.node)) {
        to_slow(frame, 0);
        return;
    }
    Code* code = nullptr;
    if (frame.kind == Frame::Kind::repeat_body) {
        Code& body = current_code(ctx, *frame.node, Role::call);
        const Code& condition = current_code(ctx, *frame.repeat.other, Role::call);
        if (body.straight && condition.straight) code = &repeat_loop(body, condition);
    }
    if (code == nullptr) code = &current_code(ctx, *frame.node, role_of(frame.kind));
    frame.code = code;
    frame.ip = code->first();
}

void start_over_slowly(Frame& frame) { to_slow(frame, 0); }

bool runs_compiled(Context& ctx, ListNode& node) {
    if (node.code != nullptr || node.ran || ctx.runtime.eager) return true;
    node.ran = true;
    return false;
}

void call_slowly(Context& ctx, ListNode* node) { push(ctx, Frame::Kind::list, node); }

void enter(Context& ctx, Entry entry) {
    switch (entry.kind) {
        case Entry::Kind::nothing:
            return;
        case Entry::Kind::list:
            start(ctx, push(ctx, Frame::Kind::list, &list_or_empty(entry.list.node())));
            return;
        case Entry::Kind::times:
            enter_times(ctx, entry.list.node(), entry.passes);
            return;
        case Entry::Kind::repeat:
            enter_repeat(ctx, entry.list.node(), entry.condition.node(), entry.stop);
            return;
        case Entry::Kind::text:
            enter_text(ctx, std::move(entry.text));
            return;
    }
}

void enter_times(Context& ctx, ListNode* body, std::int32_t passes) {
    Frame& frame = push(ctx, Frame::Kind::times, &list_or_empty(body));
    frame.times.counter = &ctx.variables["i"];
    frame.times.index = 0;
    frame.times.passes = passes;
    start(ctx, frame);
    // The first pass polls as every pass does.
    poll(ctx);
    *frame.times.counter = frame.times.index++;
}

void enter_repeat(Context& ctx, ListNode* body, ListNode* condition, double stop) {
    Frame& frame = push(ctx, Frame::Kind::repeat_body, &list_or_empty(body));
    frame.repeat.other = &list_or_empty(condition);
    frame.repeat.stop = stop;
    start(ctx, frame);
}

void make_room(Context& ctx) {
    if (!ctx.runtime.frames.make_room(max_depth)) throw std::runtime_error("recursion too deep");
}

void enter_in_place(Context& ctx, std::uint16_t level) {
    if (!ctx.runtime.frames.make_room(max_depth, level)) throw std::runtime_error("recursion too deep");
    poll(ctx);
}

void service_poll(Context& ctx) {
    Runtime& runtime = ctx.runtime;
    runtime.trap = 0;
    if (runtime.interrupt_requested != 0) take_interrupt(runtime);
    if (runtime.on_poll) {
        runtime.trap = 1;
        runtime.on_poll(ctx);
    }
    if (!fast_allowed(ctx)) runtime.trap = 1;
}

void look_again(Context& ctx) {
    // Requests and the poll hook are taken at the next call or pass, as the
    // long way takes them.
    Runtime& runtime = ctx.runtime;
    runtime.trap = runtime.interrupt_requested != 0 || runtime.on_poll ? 1 : 0;
    Frame& frame = ctx.runtime.frames.back();
    if (ctx.runtime.tracking && !ctx.terminator.empty()) note_opened(ctx);
    if (!fast_allowed(ctx)) {
        leave_instructions(frame);
    } else if (frame.code->generation != ctx.runtime.generation) {
        revalidate(ctx, frame);
    }
    sweep_when_many_retired();
}

void revalidate(Context& ctx, Frame& frame) {
    if (frame.ip == exit_instr()) return;
    if (frame.code->second != nullptr) {
        leave_instructions(frame);
        return;
    }
    const std::uint32_t token = frame.ip->token;
    Code& code = current_code(ctx, *frame.node, role_of(frame.kind));
    if (&code == frame.code) return;
    if (const Instr* const at = code.entry_at(token)) {
        frame.code = &code;
        frame.ip = at;
    } else {
        to_slow(frame, token);
    }
}

void call_word(Context& ctx, const Word& word) {
    // A copy: the word may replace itself while it runs.
    const Word copy = word;
    copy(ctx);
}

void call_sigil(Context& ctx, const Detail& detail) {
    if (detail.row != nullptr) {
        detail.row->sigil(ctx, detail.name);
    } else {
        const SigilHandler handler = *detail.handler;
        handler(ctx, detail.name);
    }
}

void settle_variable(Context& ctx, const Instr& instr) {
    const Detail& detail = *instr.operand.detail;
    detail.row->sigil(ctx, detail.name);
    const auto variable = ctx.variables.find(detail.name);
    if (variable == ctx.variables.end()) return;
    // From now on it works on the variable itself, checking for itself;
    // and the list is compiled anew when it runs next, to a straight
    // instruction that calls of it may run in place.
    Code& code = *ctx.runtime.frames.back().code;
    code.generation = 0;
    if (code.owner != nullptr) code.owner->generation = 0;
    auto& settled = const_cast<Instr&>(instr);
    switch (row_number(*detail.row)) {
        case Row::store:
            settled.op = Op::store_checked;
            break;
        case Row::add_to:
            settled.op = Op::add_to_checked;
            break;
        case Row::subtract_from:
            settled.op = Op::subtract_from_checked;
            break;
        default:
            settled.op = Op::fetch_checked;
            break;
    }
    settled.operand.variable = &variable->second;
}

std::vector<Place> running_chain(Runtime& runtime) {
    // Recursion may be a million calls deep: the same call again and again
    // is one place, and past the first few places only the outermost is
    // kept, after a place that counts the calls left out.
    constexpr std::size_t most_places = 24;
    std::vector<Place> chain;
    std::optional<Place> outermost;
    std::size_t left_out = 0;
    FrameStack& frames = runtime.frames;
    for (std::size_t index = frames.size(); index-- > 0;) {
        Frame& frame = frames[index];
        Place place;
        if (!running_place(runtime, frame, place)) continue;
        // A barrier that runs a list's tokens one by one stands for the frame below.
        if (frame.kind == Frame::Kind::barrier && index > 0) --index;
        Place* const last = outermost ? &*outermost : chain.empty() ? nullptr : &chain.back();
        if (last != nullptr && same_place(*last, place)) {
            ++last->times;
        } else if (chain.size() < most_places) {
            chain.push_back(std::move(place));
        } else {
            if (outermost) left_out += outermost->times;
            outermost = std::move(place);
        }
    }
    if (outermost) {
        if (left_out != 0) chain.push_back({.left_out = left_out});
        chain.push_back(std::move(*outermost));
    }
    return chain;
}

std::vector<Place> recent_calls(Runtime& runtime, std::size_t most) {
    std::vector<Place> chain;
    FrameStack& frames = runtime.frames;
    std::size_t below = frames.size();  // frames not walked: those below this
    std::size_t walked = 0, barriers_walked = 0;
    while (below > 0 && walked < most) {
        Frame& frame = frames[--below];
        if (frame.kind == Frame::Kind::barrier) ++barriers_walked;
        Place place;
        if (!running_place(runtime, frame, place)) continue;
        // A barrier that runs a list's tokens one by one stands for the frame below.
        if (frame.kind == Frame::Kind::barrier && below > 0) --below;
        ++walked;
        if (!chain.empty() && same_place(chain.back(), place)) {
            ++chain.back().times;
        } else {
            chain.push_back(std::move(place));
        }
    }
    // Every frame left stands for a call, but the barriers (see call_depth);
    // the outermost is the first from the bottom that runs a token.
    std::size_t left = below - (frames.barriers - barriers_walked);
    for (std::size_t index = 0; index < below && left > 0; ++index) {
        Place outermost;
        if (!running_place(runtime, frames[index], outermost)) continue;
        if (left > 1) chain.push_back({.left_out = left - 1});
        chain.push_back(std::move(outermost));
        break;
    }
    return chain;
}

Place running_token(Runtime& runtime) {
    Place place;
    if (!runtime.frames.empty()) running_place(runtime, runtime.frames.back(), place);
    return place;
}

std::size_t call_depth(const Runtime& runtime) {
    // A barrier either runs no token or stands for the frame below it.
    const FrameStack& frames = runtime.frames;
    return frames.size() - frames.barriers - (frames.size() > frames.barriers ? 1 : 0);
}

void evaluate(Context& ctx, const std::string& source, TextPosition* failed_at) {
    const Scope scope(ctx);
    std::unique_ptr<TextState> state = new_text(nullptr, source);
    if (ctx.runtime.tracking) {
        state->start = ctx.runtime.text_start;
        state->placed = true;
        state->counted = state->lines = state->line_start = 0;
    }
    Frame& frame = push(ctx, Frame::Kind::text, nullptr);  // before the release: it may throw
    frame.text = state.release();
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
    resolve_token(ctx, token, expand_aliases);
    drive(ctx, scope.base());
}

void run(Context& ctx, const TokenList& tokens) {
    const Scope scope(ctx);
    start(ctx, push(ctx, Frame::Kind::list, &list_or_empty(tokens.node())));
    drive(ctx, scope.base());
}

void load_builtins(Context& ctx) {
    for (const Builtin& row : vocabulary()) {
        switch (row.kind) {
            case Kind::alias:
                define_alias(ctx, std::string(row.name), row.alias);
                break;
            case Kind::variable_sigil:
            case Kind::fetch_sigil:
            case Kind::opener_sigil:
            case Kind::other_sigil:
                ctx.sigils[row.name[0]] = BuiltinSigil{&row};
                break;
            case Kind::control: {
                void (*plain)(Context&) = nullptr;
                switch (row_number(row)) {
#define CONTROL(name, id, function)   \
    case Row::id:                     \
        plain = run_control<Row::id>; \
        break;
#include "words/vocabulary.def"
                    default:
                        break;
                }
                define_word(ctx, std::string(row.name), BuiltinWord{&row, plain});
                break;
            }
            default:
                define_word(ctx, std::string(row.name), BuiltinWord{&row, row.word});
                break;
        }
    }
    note_change(ctx);
}

}  // namespace forth
