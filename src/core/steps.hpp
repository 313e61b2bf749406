#pragma once

#include "core/code.hpp"
#include "core/machine.hpp"
#include "core/operations.hpp"

// The handlers of compiled steps that the vocabulary names in its rows:
// the inline forms of built-in words, alone and with their neighbours.
namespace forth {

using operation::Copy;

// How a compiled list runs a built-in without calling it. A word after dup
// or over works on the copy; a two-operand word takes a number or variable
// right before it as its top operand, possibly after dup or over and
// possibly followed by not; a variable sigil works on its variable, and on
// a number right before it. Indexed [after] by Copy: nothing, dup, over.
struct OperandForms {
    StepHandler with_number[3][2];        // [after][then not]
    StepHandler with_variable[3][2];      // [after][then not]
    StepHandler variable_with_number[2];  // a variable and a number as its operands [then not]
};

struct InlineWord {
    StepHandler alone = nullptr;
    StepHandler on_copy[3] = {};               // [after]; none after nothing
    const OperandForms* operand = nullptr;     // of a word that takes a number or variable before it
    StepHandler with_number_before = nullptr;  // a variable sigil after a number
    StepHandler after_quote[2] = {};           // a control word right after a whole quote [after dup]
    StepHandler in_place_after_quote[2] = {};  // the same, running the quote's steps in place [after dup]
    Copy copies = Copy::none;                  // dup and over, which may begin a run
    bool negates = false;                      // not, which may end one
};

// Leaves what collecting a whole construct's tokens into the buffer and
// its closing word would. A loop or a recursion sets the same list again
// and again.
inline void close_whole(Context& ctx, Step& step) {
    const TokenList& list = step.list();
    if (ctx.buffer.node() != list.node()) ctx.buffer = list;
    step.native(ctx);
}

// The same for a whole quote: its closing word, the built-in one, leaves
// the quotation what the buffer collected, so both end up holding its list.
// Returns the list, read once.
inline ListNode* close_whole_quote(Context& ctx, const Step& step) {
    ListNode* const node = step.list().node();
    TokenList::assign_both(ctx.buffer, ctx.quotation, node);
    return node;
}

// Runs the steps of `node`, all current and running straight on, as a call
// that needs no frame: counted toward the depth and polling for an
// interrupt as a frame would.
inline void run_in_place(Context& ctx, const ListNode* node) {
    const InlineCall call(ctx);
    StraightSteps(node).run(ctx);
}

// Enters a call of a quote, as enter_node does. A quote whose one step
// calls a word goes straight into the word, counted as the two calls it
// stands for: the quote's frame would do nothing but hand itself over.
inline void enter_quote(Context& ctx, ListNode* node, bool last) {
    if (node != nullptr && node->size() == 1 && node->code) {
        if (const Step& only = node->code->steps[0]; only.op == Op::call_user && only.generation == ctx.runtime.generation) {
            Frame& frame = enter_node(ctx, only.body, last);
            begin_call(ctx.runtime);
            ++frame.tail_calls;
            return;
        }
    }
    enter_node(ctx, node, last);
}

namespace inline_step {

// Flattened, so that the stack's push_back in them is never left as a call:
// g++ stops inlining it once enough of these are instantiated.

template <typename Operation>
[[gnu::flatten]] Next binary(Context& ctx, Step&) {
    operation::binary(ctx, Operation{});
    return Next::follow;
}

// How a word takes a number or variable right before it as its top
// operand y, possibly after dup or over and possibly followed by not.
// A two-operand word computes with y in place of the top it would pop:
template <typename Operation>
struct TakesOperand {
    template <Copy copy, bool negate>
    static void take(Context& ctx, double y) {
        if constexpr (copy != Copy::none) {
            // The copy is never made: the result goes where it would have been.
            const double result = operation::apply(Operation{}, operation::copied<copy>(ctx), y);
            push(ctx, negate ? operation::Not{}(result) : result);
        } else {
            operation::binary_with(ctx, Operation{}, y);
            if constexpr (negate) ctx.stack.back() = operation::Not{}(ctx.stack.back());
        }
    }

    // A variable x and a number y as its operands.
    template <bool negate>
    static void take_both(Context& ctx, double x, double y) {
        const double result = operation::apply(Operation{}, x, y);
        push(ctx, negate ? operation::Not{}(result) : result);
    }
};

// and a word that takes its operands from the stack itself (/mod) finds
// them pushed.
template <void (*word)(Context&)>
struct TakesPushed {
    template <Copy copy, bool negate>
    static void take(Context& ctx, double y) {
        if constexpr (copy != Copy::none) push(ctx, operation::copied<copy>(ctx));
        push(ctx, y);
        word(ctx);
        if constexpr (negate) ctx.stack.back() = operation::Not{}(ctx.stack.back());
    }

    template <bool negate>
    static void take_both(Context& ctx, double x, double y) {
        push(ctx, x);
        take<Copy::none, negate>(ctx, y);
    }
};

template <typename Takes, Copy copy, bool negate>
[[gnu::flatten]] Next with_number(Context& ctx, Step& step) {
    Takes::template take<copy, negate>(ctx, step.number());
    return Next::follow;
}

template <typename Takes, Copy copy, bool negate>
[[gnu::flatten]] Next with_variable(Context& ctx, Step& step) {
    Takes::template take<copy, negate>(ctx, *step.variable);
    return Next::follow;
}

template <typename Takes, bool negate>
[[gnu::flatten]] Next variable_with_number(Context& ctx, Step& step) {
    Takes::template take_both<negate>(ctx, *step.variable, step.number());
    return Next::follow;
}

template <typename Operation, Copy copy>
[[gnu::flatten]] Next binary_on_copy(Context& ctx, Step&) {
    operation::binary_with(ctx, Operation{}, operation::copied<copy>(ctx));
    return Next::follow;
}

template <typename Operation>
[[gnu::flatten]] Next unary(Context& ctx, Step&) {
    operation::unary(ctx, Operation{});
    return Next::follow;
}

template <typename Operation, Copy copy>
[[gnu::flatten]] Next unary_on_copy(Context& ctx, Step&) {
    push(ctx, Operation{}(operation::copied<copy>(ctx)));
    return Next::follow;
}

template <void (*word)(Context&)>
[[gnu::flatten]] Next stack_word(Context& ctx, Step&) {
    word(ctx);
    return Next::follow;
}

template <typename Change>
[[gnu::flatten]] Next change_variable(Context& ctx, Step& step) {
    Change{}(*step.variable, pop(ctx));
    return Next::follow;
}

template <typename Change>
[[gnu::flatten]] Next change_variable_by_number(Context&, Step& step) {
    Change{}(*step.variable, step.number());
    return Next::follow;
}

[[gnu::flatten]] inline Next fetch_variable(Context& ctx, Step& step) {
    push(ctx, *step.variable);
    return Next::follow;
}

// A whole quote, and iftrue or iffalse on it; after dup, on a copy of the
// flag, which the if-else idiom leaves for the next quote.
template <bool when, bool copy>
Next quote_then_if(Context& ctx, Step& step) {
    if constexpr (copy) operation::dup(ctx);
    ListNode* const quote = close_whole_quote(ctx, step);
    // The list is left to the evaluator as a frame, as a control word's
    // would be, without asking run_list to.
    const bool last = step.last;
    const bool ran = operation::run_if<when>(ctx, quote, [last](Context& ctx, ListNode* node) { enter_quote(ctx, node, last); });
    return ran ? Next::enter : Next::follow;
}

// A whole quote whose steps all run straight on, and iftrue or iffalse
// running them in place, as a call needing no frame runs a word.
template <bool when, bool copy>
Next quote_in_place_if(Context& ctx, Step& step) {
    if constexpr (copy) operation::dup(ctx);
    ListNode* const quote = close_whole_quote(ctx, step);
    operation::run_if<when>(ctx, quote, [](Context& ctx, const ListNode* node) { run_in_place(ctx, node); });
    return Next::follow;
}

}  // namespace inline_step

// The inline forms, by the kind of word.
template <typename Takes>
inline constexpr OperandForms operand_forms{
    .with_number = {{inline_step::with_number<Takes, Copy::none, false>, inline_step::with_number<Takes, Copy::none, true>},
                    {inline_step::with_number<Takes, Copy::top, false>, inline_step::with_number<Takes, Copy::top, true>},
                    {inline_step::with_number<Takes, Copy::second, false>, inline_step::with_number<Takes, Copy::second, true>}},
    .with_variable = {{inline_step::with_variable<Takes, Copy::none, false>, inline_step::with_variable<Takes, Copy::none, true>},
                      {inline_step::with_variable<Takes, Copy::top, false>, inline_step::with_variable<Takes, Copy::top, true>},
                      {inline_step::with_variable<Takes, Copy::second, false>, inline_step::with_variable<Takes, Copy::second, true>}},
    .variable_with_number = {inline_step::variable_with_number<Takes, false>, inline_step::variable_with_number<Takes, true>},
};

template <typename Operation>
inline constexpr InlineWord two_operands{
    .alone = inline_step::binary<Operation>,
    .on_copy = {nullptr, inline_step::binary_on_copy<Operation, Copy::top>,
                inline_step::binary_on_copy<Operation, Copy::second>},
    .operand = &operand_forms<inline_step::TakesOperand<Operation>>,
};

template <typename Operation, bool negates = false>
inline constexpr InlineWord one_operand{
    .alone = inline_step::unary<Operation>,
    .on_copy = {nullptr, inline_step::unary_on_copy<Operation, Copy::top>, inline_step::unary_on_copy<Operation, Copy::second>},
    .negates = negates};

template <void (*word)(Context&), Copy copies = Copy::none>
inline constexpr InlineWord stack_word{.alone = inline_step::stack_word<word>, .copies = copies};

template <void (*word)(Context&)>
inline constexpr InlineWord stack_word_with_operand{
    .alone = inline_step::stack_word<word>,
    .operand = &operand_forms<inline_step::TakesPushed<word>>,
};

template <typename Change>
inline constexpr InlineWord variable_change{
    .alone = inline_step::change_variable<Change>,
    .with_number_before = inline_step::change_variable_by_number<Change>};

inline constexpr InlineWord variable_fetch{.alone = inline_step::fetch_variable};

template <bool when>
inline constexpr InlineWord conditional{
    .after_quote = {inline_step::quote_then_if<when, false>, inline_step::quote_then_if<when, true>},
    .in_place_after_quote = {inline_step::quote_in_place_if<when, false>, inline_step::quote_in_place_if<when, true>}};

// Gives `step` its handler.
void bind(Step& step);

}  // namespace forth
