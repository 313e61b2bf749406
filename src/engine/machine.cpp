#include <array>
#include <cstddef>
#include <cstdint>

#include "core/integer.hpp"
#include "core/trap.hpp"
#include "engine/code.hpp"
#include "engine/driver.hpp"
#include "engine/evaluate.hpp"
#include "words/builtins.hpp"
#include "words/operations.hpp"

// The evaluator's loop: it runs the top frame's instructions, into the
// frames that calls push and back out of them, until a frame must be run
// by the driver (engine/driver.cpp). Its state lives in locals, which the
// compiler keeps in registers: the instruction pointer, the stack pointer
// and the top of the stack, and the top frame. They go back into the
// Context only around code that may look at them (SAVE), and come back
// after it (LOAD).
//
// Dispatch is by computed goto where the compiler has it, each op ending
// in its own jump to the next, and by a switch elsewhere (WebAssembly).
#if defined(__GNUC__) && !defined(__EMSCRIPTEN__) && !defined(TOLVA_SWITCH_DISPATCH)
#define TOLVA_COMPUTED_GOTO 1
#else
#define TOLVA_COMPUTED_GOTO 0
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

// An op found the stack empty: it fails as pop does, or, after dup, as dup
// does, its frame then standing after it, as frames stand after an op that
// throws. (Stepping past it here, not where the loop saves its state, keeps
// the loop's code as it was.)
[[noreturn, gnu::cold, gnu::noinline]] void fail_underflow(Context& ctx, bool copy) {
    ++ctx.runtime.frames.back().ip;
    if (copy) row(Row::dup).word(ctx);
    pop(ctx);
    __builtin_unreachable();
}

}  // namespace

// Labels as values are the compilers' extension that computed goto is made of.
#if TOLVA_COMPUTED_GOTO
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#endif

void run_engine(Context& ctx) {
    using namespace operation;
#if TOLVA_COMPUTED_GOTO
    static void* const targets[] = {
#define TOLVA_OP(name, straight) &&op_##name,
        TOLVA_ENGINE_OPS(TOLVA_OP)
#include "engine/row_ops.def"
#undef TOLVA_OP
    };
#define OP(name) op_##name
#define DISPATCH() goto* targets[static_cast<std::size_t>(ip->op)]
#else
#define OP(name) case Op::name
#define DISPATCH() goto dispatch
#endif

    Runtime& runtime = ctx.runtime;
    Stack& stack = ctx.stack;
    FrameStack& frames = runtime.frames;

    // The registers.
    const Instr* ip;
    double* sp;  // the top's slot; the top itself is in tos
    double tos;
    Frame* fp;
    // What the checks compare with, reloaded with the registers.
    double* stack_base;
    double* stack_end;
    Frame* frames_limit;
    std::uint64_t generation;
    // Scratch for the ops that enter a list.
    ListNode* node;
    Code* code;
    const Instr* resume;

#define LOAD_STACK() (sp = stack.top_slot(), tos = *sp, stack_base = stack.first_slot(), stack_end = stack.end_slot())
#define SAVE_STACK() (*sp = tos, stack.set_top_slot(sp))
#define SAVE(at) (SAVE_STACK(), fp->ip = (at), frames.set_top(fp))
#define LOAD() \
    (LOAD_STACK(), fp = frames.top(), frames_limit = frames.limit(), generation = runtime.generation, ip = fp->ip)
#define PUSH(value) (*sp = tos, ++sp, tos = (value))
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
// Interrupt requests, at a call or a pass of a loop.
#define POLL()                       \
    if (runtime.trap) [[unlikely]] { \
        SAVE(ip);                    \
        service_poll(ctx);           \
        LOAD();                      \
    }

    LOAD();
    DISPATCH();

#if !TOLVA_COMPUTED_GOTO
dispatch:
    switch (ip->op) {
#endif

        OP(exit) : {
            SAVE(ip);
            return;
        }
        OP(data) : NEXT();  // never reached: the op before it steps over it

        OP(ret_kept) : goto ret;
        OP(ret) : ret : {
            if (fp->kind == Frame::Kind::tail) [[unlikely]]
                goto leave_tail;
            --fp;
            ip = fp->ip;
            if (fp->code->generation != generation) [[unlikely]]
                goto returned_to_stale;
            DISPATCH();
        }
        OP(guard) : {
            const auto depth = reinterpret_cast<char*>(sp) - reinterpret_cast<char*>(stack_base);
            const auto room = reinterpret_cast<char*>(stack_end) - reinterpret_cast<char*>(sp);
            if (depth < ip->operand.guard.below || room <= ip->operand.guard.room) [[unlikely]]
                goto guard_failed;
            NEXT();
        }

        OP(number) : {
            PUSH(ip->operand.number);
            NEXT();
        }
        OP(fetch) : {
            PUSH(*ip->operand.variable);
            NEXT();
        }
        OP(store) : {
            *ip->operand.variable = tos;
            DROP();
            NEXT();
        }
        OP(add_to) : {
            *ip->operand.variable = tos + *ip->operand.variable;
            DROP();
            NEXT();
        }
        OP(subtract_from) : {
            *ip->operand.variable = *ip->operand.variable - tos;
            DROP();
            NEXT();
        }
        OP(store_number) : {
            *ip->operand.variable = ip[1].operand.number;
            NEXT2();
        }
        OP(add_number) : {
            *ip->operand.variable = ip[1].operand.number + *ip->operand.variable;
            NEXT2();
        }
        OP(subtract_number) : {
            *ip->operand.variable = *ip->operand.variable - ip[1].operand.number;
            NEXT2();
        }
        OP(variable_sigil) : {
            SAVE(ip + 1);
            settle_variable(ctx, *ip);
            LOAD_STACK();
            NEXT();
        }
        // Once its variable exists: run outside the guards, they check for themselves.
        OP(fetch_checked) : {
            if (stack_end - sp <= 1) [[unlikely]] {
                SAVE(ip + 1);
                stack.reserve_more(1);
                LOAD_STACK();
            }
            PUSH(*ip->operand.variable);
            NEXT();
        }
        OP(store_checked) : {
            if (sp < stack_base) [[unlikely]]
                goto underflow;
            *ip->operand.variable = tos;
            DROP();
            NEXT();
        }
        OP(add_to_checked) : {
            if (sp < stack_base) [[unlikely]]
                goto underflow;
            *ip->operand.variable = tos + *ip->operand.variable;
            DROP();
            NEXT();
        }
        OP(subtract_from_checked) : {
            if (sp < stack_base) [[unlikely]]
                goto underflow;
            *ip->operand.variable = *ip->operand.variable - tos;
            DROP();
            NEXT();
        }

        OP(native) : {
            SAVE(ip + 1);
            ip->operand.native(ctx);
            LOAD_STACK();
            NEXT();
        }
        OP(native_look) : {
            SAVE(ip + 1);
            ip->operand.native(ctx);
            LOAD();
            goto look;
        }
        OP(word) : {
            SAVE(ip + 1);
            call_word(ctx, *ip->operand.word);
            LOAD();
            goto look;
        }
        OP(sigil) : {
            SAVE(ip + 1);
            call_sigil(ctx, *ip->operand.detail);
            LOAD();
            goto look;
        }
        OP(fail) : {
            SAVE(ip + 1);
            no_number(ip->operand.detail->name);
        }

        OP(call) : {
            node = ip->operand.node;
            resume = ip + 1;
            goto enter_list;
        }
        OP(call_in_place) : {
            if (fp + ip->aux >= frames_limit || runtime.trap) [[unlikely]] {
                SAVE(ip);
                enter_in_place(ctx, ip->aux);
                LOAD();
            }
            NEXT();
        }
        OP(control) : {
            SAVE(ip + 1);
            enter(ctx, ip->operand.enter(ctx));
            LOAD();
            DISPATCH();
        }

        OP(quote) : {
            TokenList::assign_both(ctx.buffer, ctx.quotation, ip->operand.node);
            NEXT();
        }
        OP(string) : {
            ctx.buffer = TokenList(ip->operand.node);
            ctx.text = joined(ctx.buffer);
            NEXT();
        }
        OP(comment) : {
            ctx.buffer.clear();
            NEXT();
        }
        OP(define) : {
            SAVE(ip + 2);
            ctx.text = ip->operand.detail->name;
            ctx.buffer = TokenList(ip[1].operand.node);
            row(Row::close_definition).word(ctx);
            LOAD();
            goto look;
        }

        // A whole quote and iftrue or iffalse; after dup, on a copy of the flag.
#define TOLVA_QUOTE_IF(name, when, copy)                         \
    OP(name) : {                                                 \
        if ((copy) && sp < stack_base) [[unlikely]]              \
            goto copy_underflow;                                 \
        node = ip->operand.node;                                 \
        TokenList::assign_both(ctx.buffer, ctx.quotation, node); \
        if (sp < stack_base) [[unlikely]]                        \
            goto underflow;                                      \
        const bool taken = (tos != 0) == (when);                 \
        if (!(copy)) DROP();                                     \
        if (!taken) NEXT();                                      \
        resume = ip + 1;                                         \
        goto enter_list;                                         \
    }
        TOLVA_QUOTE_IF(quote_iftrue, true, false)
        TOLVA_QUOTE_IF(quote_iffalse, false, false)
        TOLVA_QUOTE_IF(dup_quote_iftrue, true, true)
        TOLVA_QUOTE_IF(dup_quote_iffalse, false, true)
#undef TOLVA_QUOTE_IF

        OP(quote_times) : {
            TokenList::assign_both(ctx.buffer, ctx.quotation, ip->operand.node);
            if (sp < stack_base) [[unlikely]]
                goto underflow;
            const std::int32_t passes = truncate_to_int32(tos).value_or(0);
            DROP();
            if (passes <= 0) NEXT();
            SAVE(ip + 1);
            enter_times(ctx, ip->operand.node, passes);
            LOAD();
            DISPATCH();
        }

        OP(quote_control) : {
            TokenList::assign_both(ctx.buffer, ctx.quotation, ip->operand.node);
            SAVE(ip + 2);
            enter(ctx, ip[1].operand.enter(ctx));
            LOAD();
            DISPATCH();
        }
        OP(while_repeat) : {
            // What the tokens leave before repeat runs: the body saved, the
            // condition closed last. Then the loop, in one code when it has one.
            node = ip->operand.node;
            ListNode* const condition = ip[1].operand.node;
            if (ctx.loop_body.node() != node) ctx.loop_body = TokenList(node);
            TokenList::assign_both(ctx.buffer, ctx.quotation, condition);
            // Never null: an empty list is the empty list.
            const auto* body = static_cast<Code*>(node->code.get());
            const auto* test = static_cast<Code*>(condition->code.get());
            if (body != nullptr && test != nullptr && body->generation == generation &&
                test->generation == generation && body->loop && body->loop_condition == test->serial &&
                fp + 1 != frames_limit) {
                POLL();
                fp->ip = ip + 2;
                ++fp;
                fp->code = code = body->loop.get();
                fp->node = node;
                fp->kind = Frame::Kind::repeat_body;
                fp->repeat.other = condition;
                fp->repeat.stop = ip->aux & ~entry_flag;
                ip = code->first();
                DISPATCH();
            }
            SAVE(ip + 2);
            enter_repeat(ctx, node, condition, ip->aux & ~entry_flag);
            LOAD();
            DISPATCH();
        }

        OP(times_back) : {
            if (fp->times.index == fp->times.passes) goto leave_loop;
            POLL();
            *fp->times.counter = fp->times.index++;
            ip = fp->code->pass_head;
            DISPATCH();
        }

        OP(to_condition) : {
            node = fp->repeat.other;
            fp->repeat.other = fp->node;
            fp->node = node;
            fp->kind = Frame::Kind::repeat_condition;
            goto switch_list;
        }

        OP(repeat_test) : {
            if (sp < stack_base) [[unlikely]]
                goto underflow;
            const double result = tos;
            DROP();
            // IEEE: never equal when either is NaN
            if (result == fp->repeat.stop) goto leave_loop;
            POLL();
            node = fp->repeat.other;
            fp->repeat.other = fp->node;
            fp->node = node;
            fp->kind = Frame::Kind::repeat_body;
            goto switch_list;
        }

        OP(repeat_back) : {
            // The guard at the head of the pass counted this value.
            const double result = tos;
            DROP();
            if (result == fp->repeat.stop) goto leave_loop;
            POLL();
            ip = fp->code->pass_head;
            DISPATCH();
        }

        // The ops of the rows that compute on the stack (words/vocabulary.def).
        // Each checks its operands' domain before it changes anything; outside
        // it, it fails as its tokens would: having taken both operands, those
        // the stack held and those the tokens before the word pushed.
#define TOLVA_CHECK(domain, taken)           \
    if (!domain::holds(x, y)) [[unlikely]] { \
        taken;                               \
        SAVE(ip + 1);                        \
        domain::fail(x, y);                  \
    }
#define TOLVA_NONE static_cast<void>(0)
#define TOLVA_WITH_OPERAND(id, suffix, operand, result, domain) \
    OP(id##suffix) : {                                          \
        const double x = tos, y = (operand);                    \
        TOLVA_CHECK(domain, DROP());                            \
        tos = (result);                                         \
        NEXT();                                                 \
    }                                                           \
    OP(id##suffix##_not) : {                                    \
        const double x = tos, y = (operand);                    \
        TOLVA_CHECK(domain, DROP());                            \
        tos = flag((result) == 0);                              \
        NEXT();                                                 \
    }                                                           \
    OP(dup_##id##suffix) : {                                    \
        const double x = tos, y = (operand);                    \
        TOLVA_CHECK(domain, TOLVA_NONE);                        \
        PUSH(result);                                           \
        NEXT();                                                 \
    }                                                           \
    OP(dup_##id##suffix##_not) : {                              \
        const double x = tos, y = (operand);                    \
        TOLVA_CHECK(domain, TOLVA_NONE);                        \
        PUSH(flag((result) == 0));                              \
        NEXT();                                                 \
    }                                                           \
    OP(over_##id##suffix) : {                                   \
        const double x = sp[-1], y = (operand);                 \
        TOLVA_CHECK(domain, TOLVA_NONE);                        \
        PUSH(result);                                           \
        NEXT();                                                 \
    }                                                           \
    OP(over_##id##suffix##_not) : {                             \
        const double x = sp[-1], y = (operand);                 \
        TOLVA_CHECK(domain, TOLVA_NONE);                        \
        PUSH(flag((result) == 0));                              \
        NEXT();                                                 \
    }
#define BINARY(name, id, result, domain)                                  \
    OP(id) : {                                                            \
        const double x = sp[-1], y = tos;                                 \
        TOLVA_CHECK(domain, (DROP(), DROP()));                            \
        tos = (result);                                                   \
        --sp;                                                             \
        NEXT();                                                           \
    }                                                                     \
    TOLVA_WITH_OPERAND(id, _n, ip->operand.number, result, domain)        \
    TOLVA_WITH_OPERAND(id, _v, *ip->operand.variable, result, domain)     \
    OP(id##_vn) : {                                                       \
        const double x = *ip->operand.variable, y = ip[1].operand.number; \
        TOLVA_CHECK(domain, TOLVA_NONE);                                  \
        PUSH(result);                                                     \
        NEXT2();                                                          \
    }                                                                     \
    OP(id##_vn_not) : {                                                   \
        const double x = *ip->operand.variable, y = ip[1].operand.number; \
        TOLVA_CHECK(domain, TOLVA_NONE);                                  \
        PUSH(flag((result) == 0));                                        \
        NEXT2();                                                          \
    }                                                                     \
    OP(dup_##id) : {                                                      \
        const double x = tos, y = tos;                                    \
        TOLVA_CHECK(domain, DROP());                                      \
        tos = (result);                                                   \
        NEXT();                                                           \
    }                                                                     \
    OP(over_##id) : {                                                     \
        const double x = tos, y = sp[-1];                                 \
        TOLVA_CHECK(domain, DROP());                                      \
        tos = (result);                                                   \
        NEXT();                                                           \
    }
        // Two results: the first goes where x was (or is pushed), the second on top.
#define TOLVA_TWO_RESULTS_WITH_OPERAND(id, suffix, operand, first, second, domain, negated) \
    OP(id##suffix) : {                                                                      \
        const double x = tos, y = (operand);                                                \
        TOLVA_CHECK(domain, DROP());                                                        \
        const double r = (first), q = (second);                                             \
        tos = r;                                                                            \
        PUSH(negated(q));                                                                   \
        NEXT();                                                                             \
    }                                                                                       \
    OP(dup_##id##suffix) : {                                                                \
        const double x = tos, y = (operand);                                                \
        TOLVA_CHECK(domain, TOLVA_NONE);                                                    \
        const double r = (first), q = (second);                                             \
        PUSH(r);                                                                            \
        PUSH(negated(q));                                                                   \
        NEXT();                                                                             \
    }                                                                                       \
    OP(over_##id##suffix) : {                                                               \
        const double x = sp[-1], y = (operand);                                             \
        TOLVA_CHECK(domain, TOLVA_NONE);                                                    \
        const double r = (first), q = (second);                                             \
        PUSH(r);                                                                            \
        PUSH(negated(q));                                                                   \
        NEXT();                                                                             \
    }
#define TOLVA_KEEP(value) (value)
#define TOLVA_NEGATE(value) flag((value) == 0)
#define TOLVA_TWO_RESULTS_VN(id, suffix, first, second, domain, negated)  \
    OP(id##suffix) : {                                                    \
        const double x = *ip->operand.variable, y = ip[1].operand.number; \
        TOLVA_CHECK(domain, TOLVA_NONE);                                  \
        const double r = (first), q = (second);                           \
        PUSH(r);                                                          \
        PUSH(negated(q));                                                 \
        NEXT2();                                                          \
    }
#define BINARY2(name, id, first, second, domain)                                                           \
    OP(id) : {                                                                                             \
        const double x = sp[-1], y = tos;                                                                  \
        TOLVA_CHECK(domain, (DROP(), DROP()));                                                             \
        const double r = (first), q = (second);                                                            \
        sp[-1] = r;                                                                                        \
        tos = q;                                                                                           \
        NEXT();                                                                                            \
    }                                                                                                      \
    TOLVA_TWO_RESULTS_WITH_OPERAND(id, _n, ip->operand.number, first, second, domain, TOLVA_KEEP)          \
    TOLVA_TWO_RESULTS_WITH_OPERAND(id, _n_not, ip->operand.number, first, second, domain, TOLVA_NEGATE)    \
    TOLVA_TWO_RESULTS_WITH_OPERAND(id, _v, *ip->operand.variable, first, second, domain, TOLVA_KEEP)       \
    TOLVA_TWO_RESULTS_WITH_OPERAND(id, _v_not, *ip->operand.variable, first, second, domain, TOLVA_NEGATE) \
    TOLVA_TWO_RESULTS_VN(id, _vn, first, second, domain, TOLVA_KEEP)                                       \
    TOLVA_TWO_RESULTS_VN(id, _vn_not, first, second, domain, TOLVA_NEGATE)
#define UNARY(name, id, result)  \
    OP(id) : {                   \
        const double x = tos;    \
        tos = (result);          \
        NEXT();                  \
    }                            \
    OP(dup_##id) : {             \
        const double x = tos;    \
        PUSH(result);            \
        NEXT();                  \
    }                            \
    OP(over_##id) : {            \
        const double x = sp[-1]; \
        PUSH(result);            \
        NEXT();                  \
    }
#define TOLVA_LIST(...) \
    { __VA_ARGS__ }
#define SHUFFLE(name, id, in, outputs)                                        \
    OP(id) : {                                                                \
        static constexpr auto order = std::to_array<int>(TOLVA_LIST outputs); \
        shuffle<in>(sp, tos, order);                                          \
        NEXT();                                                               \
    }
#define POP(name, id) \
    OP(id) : {        \
        DROP();       \
        NEXT();       \
    }
#include "words/vocabulary.def"
#undef TOLVA_LIST
#undef TOLVA_KEEP
#undef TOLVA_NEGATE
#undef TOLVA_CHECK
#undef TOLVA_NONE
#undef TOLVA_WITH_OPERAND
#undef TOLVA_TWO_RESULTS_WITH_OPERAND
#undef TOLVA_TWO_RESULTS_VN

#if !TOLVA_COMPUTED_GOTO
        case Op::count:
            break;
    }
#endif

    // Enters `node`, going on at `resume` when it returns: the check of the
    // depth, the poll, then the frame.
enter_list:
    code = static_cast<Code*>(node->code.get());
    if (code == nullptr || code->generation != generation) [[unlikely]] {
        SAVE(resume);
        if (code == nullptr && !runs_compiled(ctx, *node)) {
            call_slowly(ctx, node);
            LOAD();
            DISPATCH();
        }
        code = &current_code(ctx, *node, Role::call);
        LOAD();
    }
    if (fp + 1 == frames_limit) [[unlikely]] {
        SAVE(resume);
        make_room(ctx);
        LOAD();
    }
    if (runtime.trap) [[unlikely]] {
        SAVE(resume);
        service_poll(ctx);
        LOAD();
    }
    if (resume->op == Op::ret) {
        // The call is the list's last act: it takes the frame over (a list
        // run once, as only such lists end in ret), counted as the call it
        // is, and returns where the list would have.
        frames.take_over(*fp);
        frames_limit = frames.limit();
        fp->code = code;
        fp->node = node;
        ip = node->entry;
        DISPATCH();
    }
    fp->ip = resume;
    ++fp;
    fp->code = code;
    fp->node = node;
    fp->kind = Frame::Kind::list;
    ip = node->entry;
    DISPATCH();

    // A repeat loop's frame goes on in its other list.
switch_list:
    code = static_cast<Code*>(node->code.get());
    if (code != nullptr && code->generation == generation) {
        const auto role = fp->kind == Frame::Kind::repeat_body ? Role::body : Role::condition;
        if (Code* const made = code->variants[static_cast<std::size_t>(role)].get()) {
            fp->code = made;
            ip = made->first();
            DISPATCH();
        }
    }
    SAVE(ip);
    start(ctx, *fp);
    LOAD();
    DISPATCH();

leave_tail:
    frames.release(*fp);
    --fp;
    ip = fp->ip;
    if (fp->code->generation != generation) [[unlikely]]
        goto returned_to_stale;
    DISPATCH();

leave_loop:
    --fp;
    ip = fp->ip;
    if (fp->code->generation != generation) [[unlikely]]
        goto returned_to_stale;
    DISPATCH();

returned_to_stale:
    if (ip->op == Op::exit) DISPATCH();
    SAVE(ip);
    revalidate(ctx, *fp);
    LOAD();
    DISPATCH();

    // After an op that may have changed anything, at the next instruction.
look:
    if (!runtime.trap && fp->code->generation == generation && ctx.terminator.empty()) DISPATCH();
    SAVE(ip);
    look_again(ctx);
    LOAD();
    DISPATCH();

guard_failed:
    SAVE(ip);
    if (reinterpret_cast<char*>(sp) - reinterpret_cast<char*>(stack_base) < ip->operand.guard.below) {
        if (fp->code->second != nullptr) {
            // A repeat loop's pass in one code: run it token by token.
            start_over_slowly(*fp);
            LOAD();
            DISPATCH();
        }
        // A run that would underflow: its tokens one by one, which fail as they fail.
        const Instr* const after = ip + 1 + guard_covered(*ip);
        run_tokens(ctx, *fp, ip->token, after->token);
        LOAD_STACK();
        ip = after;
        DISPATCH();
    }
    stack.reserve_more(static_cast<std::size_t>(ip->operand.guard.room) / sizeof(double) + 1);
    LOAD_STACK();
    NEXT();

    // An op that takes a value finds the stack empty: it fails as pop does,
    // or, after dup, as dup does.
underflow:
    SAVE(ip);
    fail_underflow(ctx, false);
copy_underflow:
    SAVE(ip);
    fail_underflow(ctx, true);

#undef OP
#undef DISPATCH
#undef LOAD_STACK
#undef SAVE_STACK
#undef SAVE
#undef LOAD
#undef PUSH
#undef DROP
#undef NEXT
#undef NEXT2
#undef POLL
}

#if TOLVA_COMPUTED_GOTO
#pragma GCC diagnostic pop
#endif

}  // namespace forth
