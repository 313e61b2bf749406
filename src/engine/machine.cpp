#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/integer.hpp"
#include "core/trap.hpp"
#include "engine/code.hpp"
#include "engine/frames.hpp"
#include "engine/machine.hpp"
#include "engine/meaning.hpp"
#include "engine/profiler.hpp"
#include "words/builtins.hpp"
#include "words/operations.hpp"

// The evaluator's loop: it runs the top frame's instructions, into the
// frames that calls push and back out of them, until a frame must be run
// by the driver (engine/driver.cpp). Its state lives in locals, which the
// compiler keeps in registers: the instruction pointer, the stack pointer
// and the top of the stack, and the top frame. Code outside the loop that
// may look at them is called only through CALL_OUT, which puts them back
// into the Context before and takes them back after; RAISE does the first
// half for code that throws, LEAVE for the return to the driver.
//
// Each op ends as its declaration's exits say (engine/ops.def): one that
// may change the tables looks at the state again, one that calls goes on
// wherever the top frame stands.
//
// Dispatch is by computed goto where the compiler has it, each op ending
// in its own jump to the next, and by a switch elsewhere (WebAssembly).
#if defined(__GNUC__) && !defined(__EMSCRIPTEN__) && !defined(TOLVA_SWITCH_DISPATCH)
#define TOLVA_COMPUTED_GOTO 1
#else
#define TOLVA_COMPUTED_GOTO 0
#endif
// Built again with this set, each step and each frame taken over is told
// to the profiler (engine/profiler.hpp).
#ifndef TOLVA_PROFILED
#define TOLVA_PROFILED 0
#endif
// Set in the sanitized build: the profiled loop stops at a change of the
// top frame that was not told to the profiler.
#ifndef TOLVA_CHECK_PROFILE
#define TOLVA_CHECK_PROFILE 0
#endif

namespace forth {

namespace {

// A shuffle's outputs from its `in` inputs, the deepest first: `order`
// names an input for each output.
template <std::size_t in, std::size_t out>
[[gnu::always_inline]] inline void shuffle(double*& sp, double& tos, const std::array<int, out>& order) {
    std::array<double, in> inputs;
    for (std::size_t index = 0; index + 1 < in; ++index)
        inputs[index] = sp[static_cast<std::ptrdiff_t>(index + 1) - static_cast<std::ptrdiff_t>(in)];
    inputs[in - 1] = tos;
    double* const bottom = sp + 1 - static_cast<std::ptrdiff_t>(in);
    for (std::size_t index = 0; index + 1 < out; ++index)
        bottom[index] = inputs[static_cast<std::size_t>(order[index])];
    sp = bottom + (out - 1);
    tos = inputs[static_cast<std::size_t>(order[out - 1])];
}

enum Input : int { a, b, c };

// Whether a two-operand row's domain holds x and y; a number written as y
// was checked as the code was compiled.
template <Form form, class Domain>
[[gnu::always_inline]] inline bool operands_hold(double x, double y) {
    constexpr Operand operand = info(form).operand;
    if constexpr (operand == Operand::number || operand == Operand::variable_number) {
        return Domain::holds_known(x, y);
    } else {
        return Domain::holds(x, y);
    }
}

// Of the values a row's op in `form` hands its word, how many it took off
// the stack it found (the rest the copy and the operands before the word
// pushed): what is gone when the word fails, and what its results replace.
constexpr int taken(Form form, int in) {
    const int pushed = before_word(info(form));
    return in > pushed ? in - pushed : 0;
}

// The operands a two-operand row's op in `form` hands its word, x below
// and y on top, as the tokens it stands for would leave them.
template <Form form>
[[gnu::always_inline]] inline std::pair<double, double> operands(const double* sp, double tos, const Instr* ip) {
    constexpr FormInfo made = info(form);
    if constexpr (made.operand == Operand::variable_number) {
        // A branch's number follows its list's slots.
        return {*ip->operand.variable, ip[made.branch != Branch::none ? 3 : 1].operand.number};
    } else if constexpr (made.operand == Operand::stack) {
        if constexpr (made.copy == Copy::dup) return {tos, tos};
        if constexpr (made.copy == Copy::over) return {tos, sp[-1]};
        return {sp[-1], tos};
    } else {
        const double y = made.operand == Operand::number ? ip->operand.number : *ip->operand.variable;
        return {made.copy == Copy::over ? sp[-1] : tos, y};
    }
}

constexpr double negated(double value) { return operation::flag(value == 0); }

// The frame `bytes` above `frame`, as an op laid in checks the limit.
[[gnu::always_inline]] inline const Frame* frames_at(const Frame* frame, std::int32_t bytes) {
    return reinterpret_cast<const Frame*>(reinterpret_cast<const char*>(frame) + bytes);
}

// Whether a flag is true, as the conditionals test it: not 0 nor -0 (NaN
// is true). From the bits, without the sign's: one integer test.
// (By memcpy: the WebAssembly build's library has no std::bit_cast.)
[[gnu::always_inline]] inline bool truth(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits << 1) != 0;
}

// An op found the stack empty: it fails as pop does, or, after dup, as dup
// does, its frame then standing after it, as frames stand after an op that
// throws. (Stepping past it here, not where the loop saves its state, keeps
// the loop's code as it was.)
[[noreturn, gnu::cold, gnu::noinline]] void fail_underflow(Context& ctx, bool copy) {
    ++evaluator(ctx).frames.back().ip;
    if (copy) row(Row::dup).word(ctx);
    pop(ctx);
    __builtin_unreachable();
}

// A straight run that would take more than the stack holds runs its
// tokens one by one, which fail as they fail; a repeat loop's pass in one
// code runs its body token by token from the start.
void fall_back_to_tokens(Frame& frame, const Instr& guard) {
    to_tokens(frame, frame.code->condition != nullptr ? 0 : token_of(*frame.code, &guard));
}

// The rows that compute, as the ops made from them use them.
using namespace operation;
#define BINARY(name, id, result, domain)                              \
    struct id##_row {                                                  \
        static double of(double x, double y) { return result; }       \
        using in = domain;                                             \
    };
#define BINARY2(name, id, first, second, domain)                       \
    struct id##_row {                                                  \
        static double of(double x, double y) { return first; }        \
        static double second_of(double x, double y) { return second; } \
        using in = domain;                                             \
    };
#define UNARY(name, id, result)                          \
    struct id##_row {                                    \
        static double of(double x) { return result; }    \
    };
#define VARIABLE(name, id, order, result)                                        \
    struct id##_row {                                                            \
        static double of(double x, [[maybe_unused]] double v) { return result; } \
    };
#include "words/vocabulary.def"

}  // namespace

// Labels as values are the compilers' extension that computed goto is made of.
#if TOLVA_COMPUTED_GOTO
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#endif

#if TOLVA_PROFILED
void run_profiled_engine(Context& ctx) {
#else
void run_plain_engine(Context& ctx) {
#endif
#if TOLVA_COMPUTED_GOTO
    static void* const targets[] = {
#define TOLVA_OP(name, ...) &&op_##name,
#include "engine/ops.def"
#undef TOLVA_OP
#define TOLVA_ROW_OP(row, form, ...) &&op_##row##_##form,
#include "engine/row_ops.def"
#undef TOLVA_ROW_OP
    };
#define OP(name) op_##name
#define DISPATCH()                                           \
    do {                                                     \
        STEP();                                              \
        goto* targets[static_cast<std::size_t>(ip->op)];     \
    } while (0)
#else
#define OP(name) case Op::name
#define DISPATCH() goto dispatch
#endif

    Runtime& runtime = ctx.runtime;
    Stack& stack = ctx.stack;
    Evaluator& state = evaluator(ctx);
    FrameStack& frames = state.frames;
#if TOLVA_PROFILED
    Profiler& profiler = *state.profiler;
    std::int64_t steps = 0;       // not yet handed to the profiler (fewer, inside counted calls)
    const Frame* seen = nullptr;  // the top frame it last saw
    // Each step is counted. Every change of the top frame is told to the
    // profiler where it is made, so a step need not look; the checked
    // build sees that none is missed.
#if TOLVA_CHECK_PROFILE
#define CHECK_MOVE(holds) ((holds) ? (void)0 : std::abort())
#define STEP() (CHECK_MOVE(fp == seen), ++steps)
#else
#define CHECK_MOVE(holds) ((void)0)
#define STEP() ++steps
#endif
// A take-over, told once the frame runs its new list: the steps before it
// are counted first, unless the frame goes on in the same stack of calls.
#define NOTE_TAKE_OVER()                                                                        \
    (profiler.took_over_plain(fp->node, generation)                                             \
         ? (void)0                                                                              \
         : (profiler.count(std::exchange(steps, 0)), profiler.took_over(fp->node, generation)))
// A call, a return, and whatever code outside the loop did (LOAD_REGISTERS).
#define CALLED() (CHECK_MOVE(fp == seen + 1), profiler.count(std::exchange(steps, 0)), profiler.called(frames, fp, generation), seen = fp)
#define RETURNED() \
    (CHECK_MOVE(fp + 1 == seen), profiler.count(std::exchange(steps, 0)), profiler.returned(frames, fp), seen = fp)
// Code outside the loop was handed the steps and the frame seen, so it is
// looked at afresh.
#define MOVED_EXPRESSION() (profiler.look_at_frames(&frames[0], fp), seen = fp)
#define HAND_STEPS_OVER() (profiler.add_steps(std::exchange(steps, 0)), seen = nullptr)
#else
#define STEP() ((void)0)
#define NOTE_TAKE_OVER() ((void)0)
#define CALLED() ((void)0)
#define RETURNED() ((void)0)
#define MOVED_EXPRESSION() ((void)0)
#define HAND_STEPS_OVER() ((void)0)
#endif

    // The registers.
    const Instr* ip;
    double* sp;  // the top's slot; the top itself is in tos
    double tos;
    Frame* fp;
    // What the checks compare with, taken back with the registers.
    double* stack_base;
    double* stack_end;
    Frame* frames_limit;
    std::uint64_t generation;
    // Scratch for the ops that enter a list.
    ListNode* node;
    Code* code;
    const Instr* resume;
    const Instr* saved;

// The list a whole construct closed goes into the buffer and the quotation
// only when code outside the loop may look, so that a conditional costs no
// counting of references.
#define SAVE_QUOTED()                                                                                 \
    (runtime.quoted != nullptr                                                                        \
         ? (TokenList::assign_both(ctx.buffer, ctx.quotation, std::exchange(runtime.quoted, nullptr)), 0) \
         : 0)
#define SAVE_REGISTERS(at) \
    (SAVE_QUOTED(), HAND_STEPS_OVER(), *sp = tos, stack.set_top_slot(sp), fp->ip = (at), frames.set_top(fp), frames.set_limit_to(frames_limit))
#define LOAD_REGISTERS()                                                                                   \
    (fp = frames.top(), MOVED_EXPRESSION(), sp = stack.top_slot(), tos = *sp, stack_base = stack.first_slot(), \
     stack_end = stack.end_slot(), frames_limit = frames.limit(), generation = runtime.generation, ip = fp->ip)
// Code outside the loop, which may look at the Context; the loop goes on
// where the top frame then stands: at `resume`, unless frames came or went.
#define CALL_OUT(resume, ...) (SAVE_REGISTERS(resume), __VA_ARGS__, LOAD_REGISTERS())
// Code outside the loop that throws, the frame standing at `at`.
#define RAISE(at, ...)          \
    do {                        \
        SAVE_REGISTERS(at);     \
        __VA_ARGS__;            \
        __builtin_unreachable(); \
    } while (0)
// Back to the driver, the frame standing at `at`.
#define LEAVE(at)           \
    do {                    \
        SAVE_REGISTERS(at); \
        return;             \
    } while (0)
#define PUSH(value) (*sp = tos, ++sp, tos = (value))
// Whether the stack has the room a straight run's guard asks for, and
// whether it holds all the guard asks for.
#define ROOM_FOR(guard) (reinterpret_cast<char*>(stack_end) - reinterpret_cast<char*>(sp) > (guard).room)
#define PASSES(guard) (reinterpret_cast<char*>(sp) - reinterpret_cast<char*>(stack_base) >= (guard).below && ROOM_FOR(guard))
// Where a call enters `code`: past the guard at its head when the stack
// passes it, which saves going through the guard's instruction.
#define ENTRY(code) (PASSES((code)->entry_guard) ? (code)->entry : (code)->first())
// The call of the list in slot `list` of the op at ip, counted as `calls`
// calls, by an op whose slots from `cache` keep the code it last entered
// and where past its guard, so that the next instruction is one load away,
// not three. They are trusted only while that code is still the list's,
// and current; `slow` runs otherwise, and when the frames or the trap say
// so, and leaves ip at the op. It goes on `past` slots after the op, or
// takes the frame over as its list's last act (`tail`). What it needs is
// read from the op's slots, not kept, so that the slow road's calls keep
// nothing alive on the fast one. A `proven` call checks only the room: its
// cache was filled with where the depth it proves lets it enter.
#define TOLVA_CALL_CACHED(list, cache, past, calls, tail, proven, slow)                           \
    do {                                                                                          \
        code = const_cast<Code*>(ip[cache].operand.code);                                         \
        if (code != ip[list].operand.node->code.get() || code->generation != generation ||        \
            fp + (calls) >= frames_limit || trapped(runtime)) [[unlikely]]                            \
            slow                                                                                  \
        if (tail) {                                                                               \
            frames.take_over(*fp, (calls));                                                       \
            frames_limit -= (calls);                                                              \
        } else {                                                                                  \
            fp->ip = ip + (past);                                                                 \
            ++fp;                                                                                 \
            fp->kind = Run::once;                                                                 \
            if ((calls) > 1) {                                                                    \
                frames.take_over(*fp, (calls) - 1);                                               \
                frames_limit -= (calls) - 1;                                                      \
            }                                                                                     \
        }                                                                                         \
        fp->code = code;                                                                          \
        fp->node = ip[list].operand.node;                                                         \
        if (tail) NOTE_TAKE_OVER();                                                               \
        ip = ((proven) ? ROOM_FOR(code->entry_guard) : PASSES(code->entry_guard)) ? ip[(cache) + 1].operand.instr \
                                                                                 : code->first();          \
        if (!(tail)) CALLED();                                                                    \
        DISPATCH();                                                                               \
    } while (0)
// The slow road of a call of one list: its code made current, room for its
// frame, a poll, or at its list's first run a frame that runs it token by
// token (then on in that frame); its slots filled, ip back at the op.
#define CACHED_SLOW(list, cache, past)                                                      \
    do {                                                                                    \
        saved = ip;                                                                         \
        CALL_OUT(ip + (past), code = ready_to_call(ctx, *ip[list].operand.node));           \
        if (code == nullptr) DISPATCH();                                                    \
        ip = saved;                                                                         \
        FILL_CACHE(cache);                                                                  \
    } while (0)
#define FILL_CACHE(cache)                                 \
    (const_cast<Instr*>(ip)[cache].operand.code = code, \
     const_cast<Instr*>(ip)[(cache) + 1].operand.instr = cached_entry(*code, ip))
#define DROP() (tos = *--sp)
#define NEXT()      \
    do {            \
        ++ip;       \
        DISPATCH(); \
    } while (0)
#define NEXT2()     \
    do {            \
        ip += 2;    \
        DISPATCH(); \
    } while (0)
// After an op that called out: on, as its exits say.
#define FINISH(name)                                           \
    do {                                                       \
        if constexpr ((exits_of(Op::name) & changes) != 0) {   \
            goto after_a_change;                               \
        } else {                                               \
            DISPATCH();                                        \
        }                                                      \
    } while (0)
// Interrupt requests and the poll hook, at a call or a pass of a loop.
#define POLL()                        \
    if (trapped(runtime)) [[unlikely]] {  \
        CALL_OUT(ip, service_poll(ctx)); \
    }

    LOAD_REGISTERS();
    DISPATCH();

#if !TOLVA_COMPUTED_GOTO
dispatch:
    STEP();
    switch (ip->op) {
#endif

        OP(by_tokens) : LEAVE(ip);
        OP(data) : NEXT();  // never reached: the op before it steps over it

        OP(guard) : {
            const auto depth = reinterpret_cast<char*>(sp) - reinterpret_cast<char*>(stack_base);
            const auto room = reinterpret_cast<char*>(stack_end) - reinterpret_cast<char*>(sp);
            if (depth < ip->operand.guard.below) [[unlikely]] {
                CALL_OUT(ip, fall_back_to_tokens(*fp, *ip));
                DISPATCH();
            }
            if (room <= ip->operand.guard.room) [[unlikely]] {
                CALL_OUT(ip, stack.reserve_more(static_cast<std::size_t>(ip->operand.guard.room) / sizeof(double) + 1));
                DISPATCH();
            }
            NEXT();
        }

        OP(number) : {
            PUSH(ip->operand.number);
            NEXT();
        }
        OP(variable_sigil) : {
            CALL_OUT(ip + 1, variable_sigil(ctx, *ip->operand.named));
            FINISH(variable_sigil);
        }
        OP(native) : {
            CALL_OUT(ip + 1, ip->operand.native(ctx));
            FINISH(native);
        }
        OP(native_change) : {
            CALL_OUT(ip + 1, ip->operand.native(ctx));
            FINISH(native_change);
        }
        OP(word) : {
            CALL_OUT(ip + 1, call_word(ctx, *ip->operand.word));
            FINISH(word);
        }
        OP(sigil) : {
            CALL_OUT(ip + 1, call_sigil(ctx, *ip->operand.named));
            FINISH(sigil);
        }
        OP(fail) : RAISE(ip + 1, no_number(ip->operand.named->name));

        // A call of a word defined in the language, and the same as its
        // list's last act. Proven, anything but its fast road is taken as
        // the call's own: a poll hook may have changed the stack.
#define TOLVA_CALL(name, tail)                                                    \
    OP(name) : {                                                                  \
        name##_checked:                                                           \
        TOLVA_CALL_CACHED(0, 1, 3, 1, tail, false, { CACHED_SLOW(0, 1, 3); });   \
    }                                                                             \
    OP(name##_proven) : {                                                         \
        TOLVA_CALL_CACHED(0, 1, 3, 1, tail, true, { goto name##_checked; });     \
    }
        TOLVA_CALL(call, false)
        TOLVA_CALL(tail_call, true)
#undef TOLVA_CALL
        OP(call_in_place) : {
            if (frames_at(fp, ip->operand.laid.frames) >= frames_limit || trapped(runtime)) [[unlikely]] {
                CALL_OUT(ip, count_in_place(ctx, ip->calls));
            }
            NEXT();
        }
        OP(call_in_place_marked) : {
            if (frames_at(fp, ip->operand.laid.frames) >= frames_limit || trapped(runtime)) [[unlikely]] {
                CALL_OUT(ip, count_in_place(ctx, ip->calls));
            }
#if TOLVA_PROFILED
            // It names the body in its second slot.
            profiler.count(std::exchange(steps, 0));
            profiler.enter_in_place(ip[1].operand.node, const_cast<Instr*>(ip)[2].operand.profiled);
#endif
            ip += 3;
            DISPATCH();
        }
        OP(call_in_place_counted) : {
            if (frames_at(fp, ip->operand.laid.frames) >= frames_limit || trapped(runtime)) [[unlikely]] {
                CALL_OUT(ip, count_in_place(ctx, ip->calls));
            }
#if TOLVA_PROFILED
            // Its body and the calls in it are counted now; the steps they
            // then take are not counted again.
            steps -= profiler.count_straight(*ip[1].operand.counted, generation);
#endif
            NEXT2();
        }
        OP(in_place_end) : {
#if TOLVA_PROFILED
            profiler.count(std::exchange(steps, 0));
            profiler.leave_in_place();
#endif
            NEXT();
        }
        OP(control) : {
            CALL_OUT(ip + 1, enter(ctx, ip->operand.enter(ctx)));
            FINISH(control);
        }

        OP(quote) : {
            runtime.quoted = ip->operand.node;
            NEXT();
        }
        OP(string) : {
            SAVE_QUOTED();
            ctx.buffer = TokenList(ip->operand.node);
            set_text_joined(ctx, ctx.buffer);
            NEXT();
        }
        OP(comment) : {
            SAVE_QUOTED();
            ctx.buffer.clear();
            NEXT();
        }
        OP(define) : {
            CALL_OUT(ip + 2, (ctx.text = ip->operand.named->name, ctx.buffer = TokenList(ip[1].operand.node),
                              row(Row::close_definition).word(ctx)));
            FINISH(define);
        }

        // What the conditionals that call a list do first: the quote closed,
        // and the flag (after dup, a copy of it) taken; on past the op's
        // `slots` when the flag says not to run its list.
#define TOLVA_CONDITION(when, copy, slots)          \
    if ((copy) && sp < stack_base) [[unlikely]]     \
        goto copy_underflow;                        \
    runtime.quoted = ip->operand.node;              \
    if (sp < stack_base) [[unlikely]]               \
        goto underflow;                             \
    {                                               \
        const bool runs = truth(tos) == (when);     \
        if (!(copy)) DROP();                        \
        if (!runs) {                                \
            ip += (slots);                          \
            DISPATCH();                             \
        }                                           \
    }

        // A whole quote and iftrue or iffalse; after dup, on a copy of the
        // flag; as the list's last act, taking its frame over.
#define TOLVA_QUOTE_IF(name, when, copy, tail)                                   \
    OP(name) : {                                                                 \
        TOLVA_CONDITION(when, copy, 3)                                           \
        TOLVA_CALL_CACHED(0, 1, 3, 1, tail, false, { CACHED_SLOW(0, 1, 3); });   \
    }
        TOLVA_QUOTE_IF(quote_iftrue, true, false, false)
        TOLVA_QUOTE_IF(quote_iffalse, false, false, false)
        TOLVA_QUOTE_IF(dup_quote_iftrue, true, true, false)
        TOLVA_QUOTE_IF(dup_quote_iffalse, false, true, false)
        TOLVA_QUOTE_IF(quote_iftrue_tail, true, false, true)
        TOLVA_QUOTE_IF(quote_iffalse_tail, false, false, true)
        TOLVA_QUOTE_IF(dup_quote_iftrue_tail, true, true, true)
        TOLVA_QUOTE_IF(dup_quote_iffalse_tail, false, true, true)
#undef TOLVA_QUOTE_IF

        // The same with a list that only calls a word defined in the
        // language: the word's body entered at once, the frame standing for
        // the list's call and the word's, or taking the frame over for both
        // when it is the list's last act. When the word's body cannot be
        // entered so (not compiled and current, or the frames or the trap
        // say no), its list is called as any list, which then calls it.
        // Where an else op stands in its second slot (the if-else idiom),
        // filling its slots makes that op proven for the callee or not; a
        // proven one whose new callee's guard asks more calls as any list,
        // this once.
#define TOLVA_QUOTE_CALL(tail, proven, head)                                                            \
    TOLVA_CALL_CACHED((head) + 1, (head) + 2, (head) + 4, 2, tail, proven, {                            \
        code = static_cast<Code*>(ip[(head) + 1].operand.node->code.get());                             \
        bool entered = code != nullptr && code->generation == generation && fp + 2 < frames_limit &&    \
                       !trapped(runtime);                                                                   \
        if (entered) {                                                                                  \
            FILL_CACHE((head) + 2);                                                                     \
            Instr& slot = const_cast<Instr*>(ip)[(head) + 1];                                           \
            if (lays_else && slot.op != Op::data) {                                                     \
                slot.op = else_call_for(*code, slot);                                                   \
                entered = !(proven) || slot.op == Op::else_call_proven || slot.op == Op::else_call_tail_proven; \
            }                                                                                           \
        }                                                                                               \
        if (!entered) {                                                                                 \
            ip += (head);                                                                               \
            if (tail) goto quote_tail_call;                                                             \
            goto quote_call;                                                                            \
        }                                                                                               \
    });
#define TOLVA_QUOTE_IF_CALL(name, when, copy, tail) \
    OP(name) : {                                    \
        TOLVA_CONDITION(when, copy, 4)              \
        TOLVA_QUOTE_CALL(tail, false, 0)            \
    }
        TOLVA_QUOTE_IF_CALL(quote_iftrue_call, true, false, false)
        TOLVA_QUOTE_IF_CALL(quote_iffalse_call, false, false, false)
        TOLVA_QUOTE_IF_CALL(dup_quote_iftrue_call, true, true, false)
        TOLVA_QUOTE_IF_CALL(dup_quote_iffalse_call, false, true, false)
        TOLVA_QUOTE_IF_CALL(quote_iftrue_call_tail, true, false, true)
        TOLVA_QUOTE_IF_CALL(quote_iffalse_call_tail, false, false, true)
        TOLVA_QUOTE_IF_CALL(dup_quote_iftrue_call_tail, true, true, true)
        TOLVA_QUOTE_IF_CALL(dup_quote_iffalse_call_tail, false, true, true)
#undef TOLVA_QUOTE_IF_CALL

        // The same with a list that calls, spliced in after the op's two
        // slots, inside a straight run whose guard counted the flag and the
        // list's first run: on into it in a frame of its own that runs the
        // same code, counted and polled as a call, or past it. As its list's
        // last act, it takes the frame over.
#define TOLVA_SPLICED_RUNS(tail)                                                 \
    if (fp + 1 >= frames_limit || trapped(runtime)) [[unlikely]] {               \
        CALL_OUT(ip, count_in_place(ctx, 1));                                    \
    }                                                                            \
    if (tail) {                                                                  \
        frames.take_over(*fp, 1);                                                \
        --frames_limit;                                                          \
    } else {                                                                     \
        fp->ip = ip + ip[1].operand.laid.skip;                                   \
        code = fp->code;                                                         \
        ++fp;                                                                    \
        fp->code = code;                                                         \
        fp->kind = Run::once;                                                    \
    }                                                                            \
    fp->node = ip->operand.node;                                                 \
    if (tail) NOTE_TAKE_OVER();                                                  \
    if (!(tail)) CALLED();                                                       \
    NEXT2();
#define TOLVA_QUOTE_IF_SPLICED(name, when, copy, tail)                           \
    OP(name) : {                                                                 \
        runtime.quoted = ip->operand.node;                                       \
        {                                                                        \
            const bool runs = truth(tos) == (when);                              \
            if (!(copy)) DROP();                                                 \
            if (!runs) {                                                         \
                ip += ip[1].operand.laid.skip;                                   \
                DISPATCH();                                                      \
            }                                                                    \
        }                                                                        \
        TOLVA_SPLICED_RUNS(tail)                                                 \
    }
        TOLVA_QUOTE_IF_SPLICED(quote_iftrue_spliced, true, false, false)
        TOLVA_QUOTE_IF_SPLICED(quote_iffalse_spliced, false, false, false)
        TOLVA_QUOTE_IF_SPLICED(dup_quote_iftrue_spliced, true, true, false)
        TOLVA_QUOTE_IF_SPLICED(dup_quote_iffalse_spliced, false, true, false)
        TOLVA_QUOTE_IF_SPLICED(quote_iftrue_spliced_tail, true, false, true)
        TOLVA_QUOTE_IF_SPLICED(quote_iffalse_spliced_tail, false, false, true)
        TOLVA_QUOTE_IF_SPLICED(dup_quote_iftrue_spliced_tail, true, true, true)
        TOLVA_QUOTE_IF_SPLICED(dup_quote_iffalse_spliced_tail, false, true, true)
#undef TOLVA_QUOTE_IF_SPLICED
#undef TOLVA_CONDITION

        // The end of a spliced list: back to the frame below, which goes on
        // in the same code, past the guard of the run after when the list's
        // last run checked it (Code::Splice).
        OP(splice_end) : {
            --fp;
            ip += ip->operand.laid.skip;
            RETURNED();
            DISPATCH();
        }

        // The same with the list's instructions in line, inside a straight
        // run whose guard counted the flag and what the list needs: on into
        // them, laid after the op's `slots`, counted and polled as a call,
        // or past them.
#define TOLVA_IN_PLACE(runs, slots)                                                                     \
    if (!(runs)) {                                                                                      \
        ip += ip[1].operand.laid.skip;                                                                  \
        DISPATCH();                                                                                     \
    }                                                                                                   \
    if (frames_at(fp, ip[1].operand.laid.frames) >= frames_limit || trapped(runtime)) [[unlikely]] {   \
        CALL_OUT(ip + (slots), count_in_place(ctx, ip->calls));                                         \
        DISPATCH();                                                                                     \
    }                                                                                                   \
    ip += (slots);                                                                                      \
    DISPATCH();
#define TOLVA_QUOTE_IF_IN_PLACE(name, when, copy)  \
    OP(name) : {                                   \
        runtime.quoted = ip->operand.node;         \
        const bool runs = truth(tos) == (when);    \
        if (!(copy)) DROP();                       \
        TOLVA_IN_PLACE(runs, 2)                    \
    }
        TOLVA_QUOTE_IF_IN_PLACE(quote_iftrue_in_place, true, false)
        TOLVA_QUOTE_IF_IN_PLACE(quote_iffalse_in_place, false, false)
        TOLVA_QUOTE_IF_IN_PLACE(dup_quote_iftrue_in_place, true, true)
        TOLVA_QUOTE_IF_IN_PLACE(dup_quote_iffalse_in_place, false, true)
#undef TOLVA_QUOTE_IF_IN_PLACE

        OP(quote_times) : {
            runtime.quoted = ip->operand.node;
            if (sp < stack_base) [[unlikely]]
                goto underflow;
            const std::int32_t passes = truncate_to_int32(tos).value_or(0);
            DROP();
            if (passes <= 0) NEXT();
            CALL_OUT(ip + 1, enter_times(ctx, ip->operand.node, passes));
            FINISH(quote_times);
        }

        OP(quote_control) : {
            runtime.quoted = ip->operand.node;
            CALL_OUT(ip + 2, enter(ctx, ip[1].operand.enter(ctx)));
            FINISH(quote_control);
        }

        // What the tokens leave before repeat runs: the body saved, the
        // condition closed last. Then the loop: in one code, in line, when
        // it has one, else as enter_repeat sets it up.
#define TOLVA_LOOP(name, stops)                                                                          \
    OP(name) : {                                                                                         \
        node = ip->operand.node;                                                                         \
        ListNode* const condition = ip[1].operand.node;                                                  \
        if (ctx.loop_body.node() != node) ctx.loop_body = TokenList(node);                               \
        runtime.quoted = condition;                                                                      \
        const auto* body = static_cast<Code*>(node->code.get());                                         \
        const auto* test = static_cast<Code*>(condition->code.get());                                    \
        if (body != nullptr && test != nullptr && body->generation == generation &&                      \
            test->generation == generation && body->loop && body->loop_condition == test->serial &&      \
            fp + 1 != frames_limit && !trapped(runtime)) {                                                   \
            fp->ip = ip + 2;                                                                             \
            ++fp;                                                                                        \
            fp->code = code = body->loop.get();                                                          \
            fp->node = node;                                                                             \
            fp->kind = Run::body;                                                                        \
            fp->repeat.other = condition;                                                                \
            fp->repeat.stop = (stops);                                                                   \
            ip = code->first();                                                                          \
            CALLED();                                                                                    \
            DISPATCH();                                                                                  \
        }                                                                                                \
        CALL_OUT(ip + 2, enter_repeat(ctx, node, condition, stops));                                     \
        FINISH(name);                                                                                    \
    }
        TOLVA_LOOP(while_repeat, 0)
        TOLVA_LOOP(until_repeat, 1)
#undef TOLVA_LOOP

        OP(ret_kept) : goto ret;
        OP(ret) : ret : {
            if (fp->kind == Run::tail) {
                frames_limit += frames.release(*fp);
                if (frames_limit > frames.end()) frames_limit = frames.end();
            }
            goto back_to_caller;
        }

        // Two passes laid in one code: the index of the pass the first ran is
        // stored before it, that of the second only as the pair ends.
        OP(times_second) : {
            if (fp->times.index == fp->times.passes) goto back_to_caller;
            POLL();
            *fp->times.counter = fp->times.index;
            NEXT();
        }
        OP(times_back_pair) : {
            const std::int32_t index = fp->times.index + 1;
            fp->times.index = index;
            if (index == fp->times.passes) goto back_to_caller;
            POLL();
            *fp->times.counter = index;
            fp->times.index = index + 1;
            ip = fp->code->pass_head;
            DISPATCH();
        }
        OP(times_back) : {
            if (fp->times.index == fp->times.passes) goto back_to_caller;
            POLL();
            *fp->times.counter = fp->times.index++;
            ip = fp->code->pass_head;
            DISPATCH();
        }

        OP(to_condition) : {
            std::swap(fp->node, fp->repeat.other);
            fp->kind = Run::condition;
            goto other_list;
        }

        OP(repeat_test) : {
            if (sp < stack_base) [[unlikely]]
                goto underflow;
            const double result = tos;
            DROP();
            // IEEE: never equal when either is NaN
            if (result == fp->repeat.stop) goto back_to_caller;
            POLL();
            std::swap(fp->node, fp->repeat.other);
            fp->kind = Run::body;
            goto other_list;
        }

        OP(repeat_back) : {
            // The guard at the head of the pass counted this value.
            const double result = tos;
            DROP();
            if (result == fp->repeat.stop) goto back_to_caller;
            POLL();
            ip = fp->code->pass_head;
            DISPATCH();
        }
        OP(repeat_back_kept) : {
            if (tos == fp->repeat.stop) goto back_to_caller;
            POLL();
            ip = fp->code->pass_head;
            DISPATCH();
        }

        OP(begin_pass) : {
            CALL_OUT(ip, begin_pass(ctx, *fp));
            FINISH(begin_pass);
        }

        // The ops of the rows that compute on the stack (words/vocabulary.def),
        // one for each form of each row (engine/forms.def). Each checks its
        // operands' domain before it changes anything; outside it, it fails
        // as its tokens would: having taken both operands, those the stack
        // held and those the tokens before the word pushed.
#define TOLVA_STEP(form)                                                            \
    do {                                                                            \
        ip += info(Form::form).operand == Operand::variable_number ? 2 : 1;         \
        DISPATCH();                                                                 \
    } while (0)
#define TOLVA_TAKE(count)                                 \
    do {                                                  \
        for (int dropped = 0; dropped < (count); ++dropped) DROP(); \
    } while (0)
// A two-operand word's operands, checked: outside its domain it fails
// having taken those the stack held (`gone` of them; after swap over, the
// second, under the top that stays).
#define TOLVA_OPERANDS(row, form)                                       \
    constexpr int gone = taken(Form::form, 2);                          \
    const auto [x, y] = operands<Form::form>(sp, tos, ip);              \
    if (!operands_hold<Form::form, row##_row::in>(x, y)) [[unlikely]] { \
        if constexpr (info(Form::form).copy == Copy::tuck) {            \
            --sp;                                                       \
        } else {                                                        \
            TOLVA_TAKE(gone);                                           \
        }                                                               \
        RAISE(ip + 1, row##_row::in::fail(x, y));                       \
    }
// The result goes where x was, or is pushed when both operands were slots.
#define TOLVA_PLACE(result)            \
    if constexpr (gone == 2) {         \
        --sp;                          \
        tos = (result);                \
    } else if constexpr (gone == 1) {  \
        tos = (result);                \
    } else {                           \
        PUSH(result);                  \
    }
// After swap over, the copy of y goes where x was, the result on top of it.
#define TOLVA_BINARY_OP(row, form, copy_, operand_, negated_, ...) \
    OP(row##_##form) : {                                           \
        TOLVA_OPERANDS(row, form);                                 \
        if constexpr (Copy::copy_ == Copy::tuck) {                 \
            tos = TOLVA_RESULT(row, negated_);                     \
            sp[-1] = y;                                            \
        } else {                                                   \
            TOLVA_PLACE(TOLVA_RESULT(row, negated_))               \
        }                                                          \
        TOLVA_STEP(form);                                          \
    }
#define TOLVA_RESULT(row, negated_) ((negated_) ? negated(row##_row::of(x, y)) : row##_row::of(x, y))
        // A comparison, and iftrue or iffalse on its flag at once: as
        // quote_iftrue_in_place, its list's instructions after its slots
        // (the operand, where to go past the list, the list, and a number
        // after a variable). Comparisons hold every operand. The flag is
        // left only when a copy of it was tested.
#define TOLVA_BRANCH_OP(row, form, copy_, operand_, negated_, branch_)                \
    OP(row##_##form) : {                                                              \
        constexpr int slots = Operand::operand_ == Operand::variable_number ? 4 : 3;   \
        constexpr int gone = taken(Form::form, 2);                                    \
        const auto [x, y] = operands<Form::form>(sp, tos, ip);                        \
        const double result = row##_row::of(x, y);                                    \
        if constexpr (keeps_flag(Branch::branch_)) {                                  \
            TOLVA_PLACE(result)                                                       \
        } else {                                                                      \
            TOLVA_TAKE(gone);                                                         \
        }                                                                             \
        runtime.quoted = ip[2].operand.node;                                          \
        TOLVA_IN_PLACE(truth(result) == runs_on_true(Branch::branch_), slots)         \
    }
        // Two results: the first goes where x was (or is pushed), the second on top.
#define TOLVA_BINARY2_OP(row, form, copy_, operand_, negated_, ...)                   \
    OP(row##_##form) : {                                                              \
        TOLVA_OPERANDS(row, form);                                                    \
        const double first = row##_row::of(x, y);                                     \
        const double second = negated_ ? negated(row##_row::second_of(x, y)) : row##_row::second_of(x, y); \
        if constexpr (gone == 2) {                                                    \
            sp[-1] = first;                                                           \
            tos = second;                                                             \
        } else if constexpr (gone == 1) {                                             \
            tos = first;                                                              \
            PUSH(second);                                                             \
        } else {                                                                      \
            PUSH(first);                                                              \
            PUSH(second);                                                             \
        }                                                                             \
        TOLVA_STEP(form);                                                             \
    }
#define TOLVA_UNARY_OP(row, form, copy_, operand_, negated_, ...)                 \
    OP(row##_##form) : {                                                          \
        const double x = Copy::copy_ == Copy::over ? sp[-1] : tos;               \
        if constexpr (Copy::copy_ == Copy::none) {                               \
            tos = row##_row::of(x);                                              \
        } else {                                                                 \
            PUSH(row##_row::of(x));                                              \
        }                                                                        \
        NEXT();                                                                  \
    }
#define TOLVA_VARIABLE_OP(row, form, copy_, operand_, negated_, ...)            \
    OP(row##_##form) : {                                                        \
        double& v = *ip->operand.variable;                                      \
        if constexpr (Operand::operand_ == Operand::number) {                   \
            v = row##_row::of(ip[1].operand.number, v);                         \
            NEXT2();                                                            \
        } else {                                                                \
            v = row##_row::of(tos, v);                                          \
            DROP();                                                             \
            NEXT();                                                             \
        }                                                                       \
    }
#define TOLVA_LIST(...) \
    { __VA_ARGS__ }
#define BINARY(name, id, ...) TOLVA_BINARY_FORMS(TOLVA_BINARY_OP, id)
#define COMPARE(name, id, ...) TOLVA_BINARY_FORMS(TOLVA_BINARY_OP, id) TOLVA_BRANCH_FORMS(TOLVA_BRANCH_OP, id)
#define BINARY2(name, id, ...) TOLVA_BINARY2_FORMS(TOLVA_BINARY2_OP, id)
#define UNARY(name, id, ...) TOLVA_UNARY_FORMS(TOLVA_UNARY_OP, id)
#define SHUFFLE(name, id, in, outputs)                                        \
    OP(id##_alone) : {                                                        \
        static constexpr auto order = std::to_array<int>(TOLVA_LIST outputs); \
        shuffle<in>(sp, tos, order);                                          \
        NEXT();                                                               \
    }
#define POP(name, id)  \
    OP(id##_alone) : { \
        DROP();        \
        NEXT();        \
    }
#define VARIABLE(name, id, ...) TOLVA_VARIABLE_FORMS(TOLVA_VARIABLE_OP, id)
#define FETCH(name, id)                  \
    OP(id##_alone) : {                   \
        PUSH(*ip->operand.variable);     \
        NEXT();                          \
    }
#include "words/vocabulary.def"

#ifdef __EMSCRIPTEN__
        // The page's build, whose download is held to a size, lays no else
        // ops (lays_else); one would go back to the conditional, which
        // tests the flag the first half left.
        OP(else_call) : OP(else_call_tail) : OP(else_call_proven) : OP(else_call_tail_proven) :
        OP(else_in_place) : OP(else_spliced) : OP(else_spliced_tail) : {
            --ip;
            DISPATCH();
        }
#else
        // The if-else idiom's second half, reached in its conditional's
        // second slot with a flag that says to run its list: the flag taken,
        // and its list run as the conditional would (a call, from the slot
        // the conditional's others are read from). Last in the loop, where
        // ops added move none of the others (they were timed where they are).
#define TOLVA_ELSE_CALL(name, tail, proven)       \
    OP(name) : {                                  \
        runtime.quoted = ip[-1].operand.node;     \
        DROP();                                   \
        TOLVA_QUOTE_CALL(tail, proven, -1)        \
    }
#define TOLVA_ELSE(name, runs)                  \
    OP(name) : {                                \
        --ip;                                   \
        runtime.quoted = ip->operand.node;      \
        DROP();                                 \
        runs                                    \
    }
        TOLVA_ELSE_CALL(else_call, false, false)
        TOLVA_ELSE_CALL(else_call_tail, true, false)
        TOLVA_ELSE_CALL(else_call_proven, false, true)
        TOLVA_ELSE_CALL(else_call_tail_proven, true, true)
        TOLVA_ELSE(else_in_place, TOLVA_IN_PLACE(true, 2))
        TOLVA_ELSE(else_spliced, TOLVA_SPLICED_RUNS(false))
        TOLVA_ELSE(else_spliced_tail, TOLVA_SPLICED_RUNS(true))
#undef TOLVA_ELSE
#undef TOLVA_ELSE_CALL
#endif

        // Last in the loop for the same reason as the else ops.
        OP(add_under) : {
            sp[-2] = add_row::of(sp[-2], sp[-1]);
            --sp;
            NEXT();
        }
#undef TOLVA_QUOTE_CALL
#undef TOLVA_SPLICED_RUNS
#undef TOLVA_LIST
#undef TOLVA_STEP
#undef TOLVA_TAKE
#undef TOLVA_OPERANDS
#undef TOLVA_PLACE
#undef TOLVA_IN_PLACE
#undef TOLVA_BINARY_OP
#undef TOLVA_RESULT
#undef TOLVA_BINARY2_OP
#undef TOLVA_BRANCH_OP
#undef TOLVA_UNARY_OP
#undef TOLVA_VARIABLE_OP

#if !TOLVA_COMPUTED_GOTO
        case Op::count:
            break;
    }
#endif

    // The call of `node`, going on at `resume` when it returns: its code
    // made current, room for its frame, a poll (ready_to_call), or, at its
    // first run, a frame that runs it token by token; then the frame.
call:
    code = static_cast<Code*>(node->code.get());
    if (code == nullptr || code->generation != generation || fp + 1 == frames_limit || trapped(runtime)) [[unlikely]] {
        CALL_OUT(resume, code = ready_to_call(ctx, *node));
        if (code == nullptr) DISPATCH();
    }
    fp->ip = resume;
    ++fp;
    fp->code = code;
    fp->node = node;
    fp->kind = Run::once;
    ip = ENTRY(code);
    CALLED();
    DISPATCH();

    // The call of the list of a quote that calls a word (TOLVA_QUOTE_CALL),
    // as any list's, out of the way of the op's own road.
quote_call:
    node = ip->operand.node;
    resume = ip + 4;
    goto call;
quote_tail_call:
    node = ip->operand.node;
    resume = ip + 4;
    goto tail_call;

    // The same as its list's last act (a list run once, as only such lists
    // end in ret): it takes the frame over, counted as the call it is, and
    // returns where the list would have.
tail_call:
    code = static_cast<Code*>(node->code.get());
    if (code == nullptr || code->generation != generation || fp + 1 == frames_limit || trapped(runtime)) [[unlikely]] {
        CALL_OUT(resume, code = ready_to_call(ctx, *node));
        if (code == nullptr) DISPATCH();
    }
    frames.take_over(*fp, 1);
    --frames_limit;
    fp->code = code;
    fp->node = node;
    NOTE_TAKE_OVER();
    ip = ENTRY(code);
    DISPATCH();

    // A repeat loop's frame goes on in its other list: by its instructions
    // when they are current and lists may run so (a list that ran token by
    // token ends here too), else as start sets it.
other_list:
    code = static_cast<Code*>(fp->node->code.get());
    if (code != nullptr && code->generation == generation && !state.by_tokens && ctx.terminator.empty()) {
        if (Code* const made = code->variants[static_cast<std::size_t>(fp->kind)].get()) {
            fp->code = made;
            ip = made->first();
            DISPATCH();
        }
    }
    CALL_OUT(ip, start(ctx, *fp));
    DISPATCH();

    // A list's run or a loop has ended: back to the frame below, which is
    // looked at again when the tables changed since it was. (It runs
    // instructions only while lists may: see the driver's step_token.)
back_to_caller:
    --fp;
    ip = fp->ip;
    RETURNED();
    if (fp->code->generation == generation) [[likely]] {
        // Most calls are followed by a straight run: its guard is checked
        // here, by a branch (a conditional move would make the next
        // instruction wait on the check).
        if (ip->op == Op::guard && PASSES(ip->operand.guard)) [[likely]]
            NEXT();
        DISPATCH();
    }
    if (ip->op == Op::by_tokens) LEAVE(ip);
    CALL_OUT(ip, revalidate(ctx, *fp));
    DISPATCH();

    // After an op that may have changed anything, at the next instruction.
after_a_change:
    if (!trapped(runtime) && fp->code->generation == generation && ctx.terminator.empty()) DISPATCH();
    CALL_OUT(ip, after_change(ctx));
    DISPATCH();

    // An op that takes a value finds the stack empty: it fails as pop does,
    // or, after dup, as dup does.
underflow:
    RAISE(ip, fail_underflow(ctx, false));
copy_underflow:
    RAISE(ip, fail_underflow(ctx, true));

#undef OP
#undef DISPATCH
#undef SAVE_QUOTED
#undef SAVE_REGISTERS
#undef LOAD_REGISTERS
#undef CALL_OUT
#undef RAISE
#undef LEAVE
#undef PUSH
#undef PASSES
#undef ENTRY
#undef TOLVA_CALL_CACHED
#undef CACHED_SLOW
#undef FILL_CACHE
#undef DROP
#undef NEXT
#undef NEXT2
#undef FINISH
#undef POLL
#undef STEP
#undef CALLED
#undef RETURNED
#undef CHECK_MOVE
#undef MOVED_EXPRESSION
#undef NOTE_TAKE_OVER
#undef HAND_STEPS_OVER
}

#if TOLVA_COMPUTED_GOTO
#pragma GCC diagnostic pop
#endif

}  // namespace forth
