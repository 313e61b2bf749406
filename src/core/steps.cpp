#include <unordered_map>

#include "core/builtins.hpp"
#include "core/code.hpp"
#include "core/interpreter.hpp"
#include "core/machine.hpp"
#include "core/operations.hpp"
#include "core/user_word.hpp"

// The handlers that run compiled steps, and which step gets which.
namespace forth {

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

bool pure_native(Context& ctx, Step& step) {
    step.native(ctx);
    return true;
}

// A construct run whole does what collecting it token by token would do.
bool quote(Context& ctx, Step& step) {
    ctx.buffer = step.list;
    ctx.quotation = step.list;
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
    enter_list(ctx, step.list);
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

template <typename Operation>
bool binary_with_number(Context& ctx, Step& step) {
    operation::binary_with(ctx, Operation{}, step.number);
    return true;
}

template <typename Operation>
bool binary_with_variable(Context& ctx, Step& step) {
    operation::binary_with(ctx, Operation{}, *step.variable);
    return true;
}

template <typename Operation>
bool unary(Context& ctx, Step&) {
    operation::unary(ctx, Operation{});
    return true;
}

template <void (*word)(Context&)>
bool inline_word(Context& ctx, Step&) {
    word(ctx);
    return true;
}

struct InlineWord {
    StepHandler alone;
    StepHandler with_number = nullptr;
    StepHandler with_variable = nullptr;
};

template <typename Operation>
InlineWord two_operands() {
    return {binary<Operation>, binary_with_number<Operation>, binary_with_variable<Operation>};
}

const InlineWord* inline_word_for(NativeWord word) {
    namespace b = builtin;
    namespace o = operation;
    static const std::unordered_map<NativeWord, InlineWord> words = {
        {b::add, two_operands<o::Add>()},
        {b::subtract, two_operands<o::Subtract>()},
        {b::multiply, two_operands<o::Multiply>()},
        {b::divide, two_operands<o::Divide>()},
        {b::min, two_operands<o::Min>()},
        {b::max, two_operands<o::Max>()},
        {b::less, two_operands<o::Less>()},
        {b::less_equal, two_operands<o::LessEqual>()},
        {b::greater, two_operands<o::Greater>()},
        {b::greater_equal, two_operands<o::GreaterEqual>()},
        {b::equal, two_operands<o::Equal>()},
        {b::not_equal, two_operands<o::NotEqual>()},
        {b::logical_and, two_operands<o::And>()},
        {b::logical_or, two_operands<o::Or>()},
        {b::negate, {unary<o::Negate>}},
        {b::abs, {unary<o::Abs>}},
        {b::one_plus, {unary<o::OnePlus>}},
        {b::one_minus, {unary<o::OneMinus>}},
        {b::logical_not, {unary<o::Not>}},
        {b::drop, {inline_word<o::drop>}},
        {b::dup, {inline_word<o::dup>}},
        {b::over, {inline_word<o::over>}},
        {b::swap, {inline_word<o::swap>}},
    };
    const auto found = words.find(word);
    return found == words.end() ? nullptr : &found->second;
}

StepHandler handler_for(const Step& step) {
    switch (step.op) {
        case Op::push_number: return push_constant;
        case Op::fetch_variable: return fetch;
        case Op::store_variable: return store;
        case Op::add_to_variable: return add_to;
        case Op::subtract_from_variable: return subtract_from;
        case Op::pure_native: {
            const InlineWord* word = inline_word_for(step.native);
            return word != nullptr ? word->alone : pure_native;
        }
        case Op::quote: return quote;
        case Op::text_literal: return text_literal;
        case Op::comment: return comment;
        case Op::variable_sigil: return first_use_of_variable;
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

// The handler for a number or variable that the two-operand word in
// `following` takes as its operand, if there is one.
StepHandler operand_handler(const Step& step, const Step& following) {
    if (following.op != Op::pure_native) return nullptr;
    const InlineWord* word = inline_word_for(following.native);
    if (word == nullptr) return nullptr;
    if (step.op == Op::push_number) return word->with_number;
    if (step.op == Op::fetch_variable) return word->with_variable;
    return nullptr;
}

}  // namespace

void bind(Step& step, const Step* following) {
    if (following != nullptr) {
        if (const StepHandler both = operand_handler(step, *following)) {
            step.run = both;
            step.next = following->next;
            return;
        }
    }
    step.run = handler_for(step);
}

}  // namespace forth
