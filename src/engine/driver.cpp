#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/retired.hpp"
#include "core/streams.hpp"
#include "core/tables.hpp"
#include "core/user_word.hpp"
#include "engine/code.hpp"
#include "engine/evaluate.hpp"
#include "engine/frames.hpp"
#include "engine/machine.hpp"
#include "engine/meaning.hpp"
#include "engine/places.hpp"
#include "engine/profiler.hpp"
#include "engine/slips.hpp"
#include "engine/stack_guard.hpp"

// The driver: it runs the frames, handing each to the loop
// (engine/machine.cpp) while it can run by instructions, and running it
// token by token while a construct collects, at a list's first run, for
// source text, and while every list runs so. Both ways push the same
// frames and poll at the same calls and passes, so a run may go from one to
// the other at any token; a list run token by token ends as one run by
// instructions does, by its end's instruction.
namespace forth {

namespace {

// The trace hook is the embedder's: it may write the text register.
void call_trace(Context& ctx, Evaluator& state) {
    state.trace(ctx);
    forget_joined_text(ctx.runtime);
}

// " at prog.tv:3" for a place read from a named source; nothing else.
std::string at(const Place& place, std::string_view how = " at ") {
    if (place.source.empty()) return {};
    return std::string(how) + place.source + ':' + std::to_string(place.line);
}

void warn(Context& ctx, const std::string& slip) {
    *ctx.err << "Warning: " << slip << std::endl;
    check_errors(ctx);
}

// Slips said where they happen in source text, while places are tracked.
// (A list's own tokens are no source text: it may run them as one
// construct, collecting none.) As a token is collected: engine/slips.hpp.
void warn_if_collected_slip(Context& ctx, Evaluator& state, const std::string& token, Origin origin) {
    if (state.frames.back().kind != Run::text) return;
    const CollectedSlip slip = collected_slip(ctx, token, state.opened.token);
    if (slip == CollectedSlip::none) return;
    const std::string where = at(place_of(state, origin, token));
    warn(ctx, slip == CollectedSlip::nested_opener ? nested_opener_slip(token, ctx.terminator, where)
                     : definition_slip(token, state.opened.token, where, at(state.opened, " opened at ")));
}

// As a token runs: a closing word with nothing open closes nothing.
[[gnu::noinline]] void warn_if_closes_nothing(Context& ctx, Evaluator& state, const std::string& token, Word& word) {
    if (state.frames.back().kind != Run::text) return;
    const Builtin* const row = row_of(word);
    if (row == nullptr || !is_closer(row->name)) return;
    warn(ctx, lone_closer_slip(token, at(place_of(state, running_origin(state), token))));
}

// As a construct has opened: a `:` alone defines the word with the empty name.
void warn_if_empty_name(Context& ctx, Evaluator& state, const std::string& token) {
    if (token != ":" || ctx.terminator != ";" || state.frames.back().kind != Run::text) return;
    warn(ctx, empty_name_slip(at(state.opened)));
}

// A list or a word's body made from source text: the slips its own
// constructs will make as they collect when it runs, said now, where they
// are written. (As it runs, a list says none: once made into instructions,
// its constructs are made whole and collect nothing.)
void warn_of_slips_when_run(Context& ctx, Evaluator& state) {
    if (state.frames.back().kind != Run::text) return;
    const std::string_view made = closer_opened_by(ctx, state.opened.token);
    if (made != "]" && made != "}" && made != ";") return;
    const TokenList& list = ctx.buffer;
    std::string_view closer;  // of the construct the tokens would be collected into
    std::size_t opened = 0;
    for (std::size_t index = 0; index < list.size(); ++index) {
        const std::string token(list[index]);
        if (closer.empty()) {
            closer = closer_opened_by(ctx, token);
            opened = index;
        } else if (token == closer) {
            closer = {};
        } else if (const CollectedSlip slip = collected_slip(ctx, token, list[opened], closer);
                   slip != CollectedSlip::none) {
            const std::string where = at(place_of(state, list.node()->origin(index), token));
            const Place opener = place_of(state, list.node()->origin(opened), list[opened]);
            warn(ctx, slip == CollectedSlip::nested_opener
                          ? nested_opener_slip(token, closer, where)
                          : definition_slip(token, opener.token, where, at(opener, " opened at ")));
        }
    }
}

// A token met while a construct is open. Out of line: the way of every
// other token keeps no registers for it.
[[gnu::noinline]] void collect(Context& ctx, Evaluator& state, const std::string& token) {
    if (token != ctx.terminator) {
        if (state.tracking) {
            const Origin origin = running_origin(state);
            ctx.buffer.push_back(token, origin);
            warn_if_collected_slip(ctx, state, token, origin);
        } else {
            ctx.buffer.push_back(token);
        }
        return;
    }
    if (state.tracking) warn_of_slips_when_run(ctx, state);
    // Looked up by name each time, so a redefined closing word runs instead.
    auto closing = ctx.words.find(ctx.terminator);
    if (closing == ctx.words.end()) {
        closing = ctx.words.try_emplace(ctx.terminator).first;
        note_change(ctx);
    }
    call_word(ctx, closing->second);
    ctx.terminator.clear();
}

// Out of line, as the rarer ways of a token are: the way of a number
// keeps no registers for them.
[[gnu::noinline]] void run_sigil(Context& ctx, SigilHandler& handler, const std::string& token) {
    if (const Builtin* row = row_of(handler)) {
        row->sigil(ctx, token.substr(1));
    } else {
        const SigilHandler copy = handler;  // it may replace itself
        copy(ctx, token.substr(1));
        forget_joined_text(ctx.runtime);
    }
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
        ListNode* const body = user_word->body.node();
        call_list(ctx, body != nullptr ? body : &empty_list(ctx));
    } else {
        call_word(ctx, word);
    }
}

// The token-by-token way of one token: collected into an open construct,
// or run as its meaning says (engine/meaning.hpp). A call or a control word
// pushes its frames for the running driver to run.
void resolve_token(Context& ctx, Evaluator& state, const std::string& token, bool expand_aliases) {
    if (!ctx.terminator.empty()) {
        collect(ctx, state, token);
        return;
    }
    const Meaning meaning = meaning_of(ctx, token, expand_aliases);
    switch (meaning.kind) {
        case Meaning::Kind::word:
            if (state.tracking) [[unlikely]] warn_if_closes_nothing(ctx, state, token, *meaning.word);
            run_word(ctx, *meaning.word);
            break;
        case Meaning::Kind::sigil:
            run_sigil(ctx, *meaning.handler, *meaning.token);
            break;
        case Meaning::Kind::number:
            push(ctx, meaning.number);
            return;
        case Meaning::Kind::none:
            no_number(*meaning.token);
    }
    if (!ctx.terminator.empty() && state.tracking) {
        note_opened(state);
        warn_if_empty_name(ctx, state, token);
    }
}

void step_text(Context& ctx, Evaluator& state, Frame& frame) {
    TextState& source = *frame.text;
    const std::string_view text = source.text;
    // The next token; none at the end or at a lone backslash.
    const std::string_view token = next_token(text, source.position);
    if (!token.empty()) source.token.assign(token);
    if (token.empty() || source.token == "\\") {
        pop_frame(ctx);
        return;
    }
    if (state.trace) [[unlikely]]
        call_trace(ctx, state);
    if (state.profiler) [[unlikely]]
        state.profiler->step(state.frames, &frame);
    resolve_token(ctx, state, source.token, true);
}

void step_token(Context& ctx, Evaluator& state, Frame& frame) {
    if (frame.ip != by_tokens_instr()) leave_instructions(frame);
    const ListNode& node = *frame.node;
    if (frame.pc < node.size()) {
        const std::string token(node.token(frame.pc++));
        if (state.trace) [[unlikely]]
            call_trace(ctx, state);
        if (state.profiler) [[unlikely]]
            state.profiler->step(state.frames, &frame);
        resolve_token(ctx, state, token, true);
        return;
    }
    // Its end, by the instruction that ends a list that runs as it does.
    // Ending while a construct collects polls, as a call does: returns that
    // each collect the rest of a long list may follow one another with no
    // call between them.
    if (!ctx.terminator.empty()) poll(ctx);
    // The frame it goes back to runs instructions only while lists may.
    FrameStack& frames = state.frames;
    if (!instructions_allowed(ctx) && frames.size() > 1) {
        Frame& below = frames[frames.size() - 2];
        if (below.ip != by_tokens_instr()) leave_instructions(below);
    }
    frame.code = &end_code(frame.kind);
    frame.ip = frame.code->first();
    run_engine(ctx);
}

// Runs frames until only `base` are left.
void drive(Context& ctx, std::size_t base) {
    Evaluator& state = evaluator(ctx);
    FrameStack& frames = state.frames;
    while (frames.size() > base) {
        Frame& frame = frames.back();
        if (frame.kind == Run::text) {
            step_text(ctx, state, frame);
            continue;
        }
        if (!state.by_tokens && ctx.terminator.empty()) {
            if (frame.ip == by_tokens_instr()) {
                // A compiled list goes on by its instructions from the first
                // token it can begin at.
                if (frame.node->code != nullptr) {
                    Code& code = current_code(ctx, *frame.node, frame.kind);
                    if (const Instr* const at = entry_for(ctx, code, frame.pc)) {
                        frame.code = &code;
                        frame.ip = at;
                    }
                }
            } else if (frame.code->generation != ctx.runtime.generation) {
                revalidate(ctx, frame);
            }
            if (frame.ip != by_tokens_instr()) {
                run_engine(ctx);
                continue;
            }
        }
        step_token(ctx, state, frame);
    }
}

// One run of the evaluator, entered from native code: a frame of native
// code on top, above which it runs its own frames, which go when it ends,
// normally or by an exception.
class Scope {
public:
    explicit Scope(Context& ctx) : Scope(ctx, evaluator(ctx)) {}
    Scope(Context& ctx, Evaluator& state) : keep_retired_(ctx.retired), ctx_(ctx), state_(state) {
        // Native code that re-enters the evaluator (a redefined closing word
        // that closes its own construct, nested files) still nests on the
        // machine's stack. A few runs inside one another cannot use it up:
        // the guard, which reads the stack's bounds once (a tenth of what
        // starting the program costs), is asked only past them.
        constexpr std::size_t unguarded = 16;
        if (state_.reentries >= max_reentry) throw std::runtime_error("recursion too deep");
        if (state_.reentries >= unguarded) check_stack_depth();
        Frame& native = state_.frames.push_native(max_depth);
        native.kind = Run::nothing;
        native.node = nullptr;
        to_tokens(native, 0);
        base_ = state_.frames.size();
        ++state_.reentries;
    }
    ~Scope() {
        // An error leaves (no run of the evaluator begins while one is on
        // its way): the first run it leaves notes the chain of tokens that
        // led to it, while every frame is still there.
        if (state_.tracking && !state_.chain_noted && std::uncaught_exceptions() > 0) note_chain();
        FrameStack& frames = state_.frames;
        while (frames.size() > base_) pop_frame(ctx_);
        frames.pop_native(max_depth);
        if (--state_.reentries == 0) frames.shrink(max_depth);
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    std::size_t base() const { return base_; }

private:
    void note_chain() noexcept {
        try {
            state_.chain = running_chain(state_);
            state_.chain_noted = true;
        } catch (...) {
            state_.chain.clear();  // out of memory: the error goes without its chain
        }
    }

    const KeepRetired keep_retired_;  // destroyed last, once the frames are gone
    Context& ctx_;
    Evaluator& state_;
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

void Evaluator::run(Context& ctx, const TokenList& list) { forth::run(ctx, list); }

void evaluate(Context& ctx, const std::string& source, TextPosition* failed_at) {
    Evaluator& state = evaluator(ctx);
    const Scope scope(ctx, state);
    std::unique_ptr<TextState> text = new_text(ctx, nullptr, source);
    if (state.tracking) {
        text->start = state.text_start;
        text->placed = true;
        text->counted = text->lines = text->line_start = 0;
    }
    push_text(ctx, std::move(text));
    try {
        drive(ctx, scope.base());
    } catch (...) {
        // Read before the scope takes the text's frame away; nothing is kept
        // on the way for an error that may never come.
        if (failed_at != nullptr) {
            const TextState& at = *state.frames[scope.base()].text;
            failed_at->begin = at.position - at.token.size();
            failed_at->end = at.position;
        }
        throw;
    }
}

void resolve(Context& ctx, const std::string& token, bool expand_aliases) {
    const Scope scope(ctx);
    resolve_token(ctx, evaluator(ctx), token, expand_aliases);
    drive(ctx, scope.base());
}

void run(Context& ctx, const TokenList& tokens) {
    const Scope scope(ctx);
    call_list(ctx, tokens.node() != nullptr ? tokens.node() : &empty_list(ctx));
    drive(ctx, scope.base());
}

void load_builtins(Context& ctx) {
    evaluator(ctx);
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
#define CONTROL(name, id, in, function) \
    case Row::id:                       \
        plain = run_control<Row::id>;   \
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
