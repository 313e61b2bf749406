#include <span>
#include <unordered_map>

#include "core/builtins.hpp"
#include "core/code.hpp"
#include "core/interpreter.hpp"
#include "core/machine.hpp"
#include "core/operations.hpp"
#include "core/user_word.hpp"

// The handlers that run compiled steps, and which step gets which.
namespace forth {

// What a built-in word run inline does alone, and in the runs of steps it
// can end: a one-operand word after dup works on a copy of the top; a
// two-operand word takes a number or variable right before it as its top
// operand, possibly after dup and possibly followed by not.
struct InlineWord {
    StepHandler alone;
    StepHandler on_copy = nullptr;
    StepHandler with_number[2][2] = {};    // [after dup][then not]
    StepHandler with_variable[2][2] = {};  // [after dup][then not]
    StepHandler variable_with_number[2] = {};  // a variable and a number as its operands [then not]
};

namespace {

using NativeWord = void (*)(Context&);

bool push_constant(Context& ctx, Step& step) {
    push(ctx, step.number);
    return true;
}

bool fetch(Context& ctx, Step& step) {
    push(ctx, *step.variable);
    return true;
}

// The variable sigils, as their handlers do it, on the variable itself.
bool store(Context& ctx, Step& step) {
    *step.variable = pop(ctx);
    return true;
}

bool add_to(Context& ctx, Step& step) {
    const double x = pop(ctx);
    *step.variable = x + *step.variable;
    return true;
}

bool subtract_from(Context& ctx, Step& step) {
    const double x = pop(ctx);
    *step.variable = *step.variable - x;
    return true;
}

bool first_use_of_variable(Context& ctx, Step& step) {
    step.sigil_native(ctx, step.name);
    settle_variable(ctx, step);
    bind(step);
    return true;
}

// A number stored, added or subtracted straight into a variable.
bool store_number(Context&, Step& step) {
    *step.variable = step.number;
    return true;
}

bool add_number_to(Context&, Step& step) {
    *step.variable = step.number + *step.variable;
    return true;
}

bool subtract_number_from(Context&, Step& step) {
    *step.variable = *step.variable - step.number;
    return true;
}

// The steps of a word that needs no frame, run in place. They were all
// compiled with the step that calls them, and none of them can change the
// tables, so they are all still valid.
bool call_leaf(Context& ctx, Step& step) {
    // Laid out in line, when none of the calls in it can reach the depth
    // limit; each still polls for an interrupt where its frame would begin.
    if (step.flat != nullptr && ctx.runtime.depth + step.flat->depth < max_depth) {
        poll_interrupt();
        for (Step& inner : step.flat->steps) inner.run(ctx, inner);
        return true;
    }
    const InlineCall call(ctx);
    ListNode* const body = step.body;
    if (body == nullptr) return true;
    Step* const steps = body->code->steps.data();
    const auto size = static_cast<std::uint32_t>(body->tokens.size());
    for (std::uint32_t pc = 0; pc < size;) {
        Step& inner = steps[pc];
        pc = inner.next;
        inner.run(ctx, inner);
    }
    return true;
}

bool enter_call(Context&, Step&) {
    poll_interrupt();
    return true;
}

bool pure_native(Context& ctx, Step& step) {
    step.native(ctx);
    return true;
}

// A construct run whole does what collecting it token by token would do.
bool quote(Context& ctx, Step& step) {
    // A loop or a recursion sets the same list again and again.
    if (ctx.quotation.node() != step.list.node()) ctx.quotation = step.list;
    if (ctx.buffer.node() != step.list.node()) ctx.buffer = step.list;
    return true;
}

bool text_literal(Context& ctx, Step& step) {
    ctx.buffer = step.list;
    ctx.text = step.name;
    return true;
}

bool comment(Context& ctx, Step&) {
    ctx.buffer.clear();
    return true;
}

template <bool run_when_true>
bool quote_then_if(Context& ctx, Step& step) {
    quote(ctx, step);
    if ((pop(ctx) != 0) != run_when_true) return true;
    if (step.last) {
        enter_last(ctx, step.list);
    } else {
        enter_list(ctx, step.list);
    }
    return false;
}

bool define(Context& ctx, Step& step) {
    ctx.text = step.name;
    ctx.buffer = step.list;
    define_word(ctx, ctx.text, UserWord{step.list});
    return false;
}

// The rest may change anything; the step itself may be compiled anew
// while they run, so nothing reads it after.
bool native(Context& ctx, Step& step) {
    step.native(ctx);
    return false;
}

bool control(Context& ctx, Step& step) {
    call_control(ctx, step.native);
    return false;
}

bool call_user(Context& ctx, Step& step) {
    if (step.last) {
        enter_last(ctx, TokenList(step.body));
    } else {
        enter_list(ctx, TokenList(step.body));
    }
    return false;
}

bool call_word(Context& ctx, Step& step) {
    (*step.word)(ctx);
    return false;
}

bool sigil(Context& ctx, Step& step) {
    (*step.handler)(ctx, step.name);
    return false;
}

bool fail(Context& ctx, Step& step) {
    push_number(ctx, step.name);
    return false;
}

// The commonest built-in words run inline, and a two-operand word right
// after a number or a variable takes it as its operand without a push.
template <typename Operation>
bool binary(Context& ctx, Step&) {
    operation::binary(ctx, Operation{});
    return true;
}

template <typename Operation, bool copy, bool negate>
void with_operand(Context& ctx, double y) {
    if constexpr (copy) operation::dup(ctx);
    operation::binary_with(ctx, Operation{}, y);
    if constexpr (negate) ctx.stack.back() = operation::Not{}(ctx.stack.back());
}

template <typename Operation, bool copy, bool negate>
bool with_number(Context& ctx, Step& step) {
    with_operand<Operation, copy, negate>(ctx, step.number);
    return true;
}

template <typename Operation, bool copy, bool negate>
bool with_variable(Context& ctx, Step& step) {
    with_operand<Operation, copy, negate>(ctx, *step.variable);
    return true;
}

template <typename Operation, bool negate>
bool variable_with_number(Context& ctx, Step& step) {
    const double result = Operation{}(*step.variable, step.number);
    push(ctx, negate ? operation::Not{}(result) : result);
    return true;
}

template <typename Operation>
bool unary(Context& ctx, Step&) {
    operation::unary(ctx, Operation{});
    return true;
}

template <typename Operation>
bool unary_on_copy(Context& ctx, Step&) {
    operation::dup(ctx);
    ctx.stack.back() = Operation{}(ctx.stack.back());
    return true;
}

template <void (*word)(Context&)>
bool inline_word(Context& ctx, Step&) {
    word(ctx);
    return true;
}

StepHandler handler_for(const Step& step) {
    switch (step.op) {
        case Op::push_number: return push_constant;
        case Op::fetch_variable: return fetch;
        case Op::store_variable: return store;
        case Op::add_to_variable: return add_to;
        case Op::subtract_from_variable: return subtract_from;
        case Op::pure_native: return step.inline_word != nullptr ? step.inline_word->alone : pure_native;
        case Op::quote: return quote;
        case Op::text_literal: return text_literal;
        case Op::comment: return comment;
        case Op::variable_sigil: return first_use_of_variable;
        case Op::enter_call: return enter_call;
        case Op::call_leaf: return call_leaf;
        case Op::quote_iftrue: return quote_then_if<true>;
        case Op::quote_iffalse: return quote_then_if<false>;
        case Op::native: return native;
        case Op::control: return control;
        case Op::call_user: return call_user;
        case Op::call_word: return call_word;
        case Op::sigil: return sigil;
        case Op::define: return define;
        case Op::fail: return fail;
    }
    return fail;
}

bool is_native(const Step& step, NativeWord word) { return step.op == Op::pure_native && step.native == word; }

bool takes_operand(const Step& step) {
    return step.op == Op::pure_native && step.inline_word != nullptr && step.inline_word->with_number[0][0] != nullptr;
}

struct NativeKind {
    Op op;
    const InlineWord* inline_word = nullptr;
};

template <typename Operation>
const InlineWord* two_operands() {
    static const InlineWord word{
        binary<Operation>,
        nullptr,
        {{with_number<Operation, false, false>, with_number<Operation, false, true>},
         {with_number<Operation, true, false>, with_number<Operation, true, true>}},
        {{with_variable<Operation, false, false>, with_variable<Operation, false, true>},
         {with_variable<Operation, true, false>, with_variable<Operation, true, true>}},
        {variable_with_number<Operation, false>, variable_with_number<Operation, true>},
    };
    return &word;
}

template <typename Operation>
const InlineWord* one_operand() {
    static const InlineWord word{unary<Operation>, unary_on_copy<Operation>};
    return &word;
}

template <StepHandler handler>
const InlineWord* alone() {
    static const InlineWord word{handler};
    return &word;
}

}  // namespace

// How the evaluator may run each built-in word. Those that only work on the
// stack, variables, text register, lists, input and output run straight on,
// the commonest of them inline; those that run a list leave it to the
// evaluator as a frame. Every other word, built-in or not, makes the
// evaluator look at its state again.
void classify_native(NativeWord word, Step& step) {
    namespace b = builtin;
    namespace o = operation;
    constexpr Op pure = Op::pure_native;
    static const std::unordered_map<NativeWord, NativeKind> kinds = {
        {b::add, {pure, two_operands<o::Add>()}},
        {b::subtract, {pure, two_operands<o::Subtract>()}},
        {b::multiply, {pure, two_operands<o::Multiply>()}},
        {b::divide, {pure, two_operands<o::Divide>()}},
        {b::min, {pure, two_operands<o::Min>()}},
        {b::max, {pure, two_operands<o::Max>()}},
        {b::less, {pure, two_operands<o::Less>()}},
        {b::less_equal, {pure, two_operands<o::LessEqual>()}},
        {b::greater, {pure, two_operands<o::Greater>()}},
        {b::greater_equal, {pure, two_operands<o::GreaterEqual>()}},
        {b::equal, {pure, two_operands<o::Equal>()}},
        {b::not_equal, {pure, two_operands<o::NotEqual>()}},
        {b::logical_and, {pure, two_operands<o::And>()}},
        {b::logical_or, {pure, two_operands<o::Or>()}},
        {b::negate, {pure, one_operand<o::Negate>()}},
        {b::abs, {pure, one_operand<o::Abs>()}},
        {b::one_plus, {pure, one_operand<o::OnePlus>()}},
        {b::one_minus, {pure, one_operand<o::OneMinus>()}},
        {b::logical_not, {pure, one_operand<o::Not>()}},
        {b::drop, {pure, alone<inline_word<o::drop>>()}},
        {b::dup, {pure, alone<inline_word<o::dup>>()}},
        {b::over, {pure, alone<inline_word<o::over>>()}},
        {b::swap, {pure, alone<inline_word<o::swap>>()}},
        {b::depth, {pure}},          {b::print_stack, {pure}},  {b::list_words, {pure}},
        {b::list_sigils, {pure}},    {b::list_aliases, {pure}}, {b::close_comment, {pure}},
        {b::close_list, {pure}},     {b::close_string, {pure}}, {b::print_number, {pure}},
        {b::emit, {pure}},           {b::space, {pure}},        {b::spaces, {pure}},
        {b::cr, {pure}},             {b::print_text, {pure}},   {b::accept, {pure}},
        {b::number, {pure}},         {b::parse_name, {pure}},   {b::mod, {pure}},
        {b::slash_mod, {pure}},      {b::two_dup, {pure}},      {b::rot, {pure}},
        {b::minus_rot, {pure}},      {b::while_loop, {pure}},   {b::until_loop, {pure}},
        {b::times, {Op::control}},   {b::iftrue, {Op::control}}, {b::iffalse, {Op::control}},
        {b::repeat, {Op::control}},  {b::execute, {Op::control}}, {b::interpret, {Op::control}},
    };
    const auto kind = kinds.find(word);
    step.native = word;
    step.op = kind == kinds.end() ? Op::native : kind->second.op;
    step.inline_word = kind == kinds.end() ? nullptr : kind->second.inline_word;
}

void bind(Step& step) { step.run = handler_for(step); }

std::size_t bind_run(Step& step, std::span<const Step> following) {
    const auto take = [&](std::size_t count, StepHandler handler) {
        step.run = handler;
        for (std::size_t taken = 0; taken < count; ++taken) step.through_alias |= following[taken].through_alias;
        return count;
    };
    // A number stored, added or subtracted straight into a variable.
    if (step.op == Op::push_number && !following.empty()) {
        const Step& sigil = following[0];
        StepHandler handler = nullptr;
        if (sigil.op == Op::store_variable) handler = store_number;
        if (sigil.op == Op::add_to_variable) handler = add_number_to;
        if (sigil.op == Op::subtract_from_variable) handler = subtract_number_from;
        if (handler != nullptr) {
            step.variable = sigil.variable;
            return take(1, handler);
        }
    }
    // variable number two-operand-word [not]
    if (step.op == Op::fetch_variable && following.size() >= 2 && following[0].op == Op::push_number &&
        takes_operand(following[1])) {
        const bool negate = following.size() > 2 && is_native(following[2], builtin::logical_not);
        step.number = following[0].number;
        return take(negate ? 3 : 2, following[1].inline_word->variable_with_number[negate ? 1 : 0]);
    }
    // [dup] (number | variable) two-operand-word [not], or dup one-operand-word.
    const bool copy = is_native(step, builtin::dup);
    const std::size_t skip = copy ? 1 : 0;
    if (following.size() < skip + 1) return 0;
    const Step& operand = copy ? following[0] : step;
    const bool number = operand.op == Op::push_number;
    if ((number || operand.op == Op::fetch_variable) && following.size() > skip && takes_operand(following[skip])) {
        const InlineWord& word = *following[skip].inline_word;
        const bool negate = following.size() > skip + 1 && is_native(following[skip + 1], builtin::logical_not);
        if (number) {
            step.number = operand.number;
        } else {
            step.variable = operand.variable;
        }
        const auto& handlers = number ? word.with_number : word.with_variable;
        return take(skip + 1 + (negate ? 1 : 0), handlers[copy ? 1 : 0][negate ? 1 : 0]);
    }
    if (copy && following[0].op == Op::pure_native && following[0].inline_word != nullptr &&
        following[0].inline_word->on_copy != nullptr) {
        return take(1, following[0].inline_word->on_copy);
    }
    return 0;
}

}  // namespace forth
