#include <unordered_map>

#include "core/builtins.hpp"
#include "core/code.hpp"
#include "core/interpreter.hpp"
#include "core/machine.hpp"
#include "core/operations.hpp"
#include "core/user_word.hpp"

// The handlers that run compiled steps, and which step gets which.
namespace forth {

// What a built-in word run inline does alone, and with a number or a
// variable right before it as its top operand.
struct InlineWord {
    StepHandler alone;
    StepHandler with_number = nullptr;
    StepHandler with_variable = nullptr;
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
    enter_list(ctx, step.list);
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
    enter_list(ctx, TokenList(step.body));
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

// The handler for a number or variable that the two-operand word in
// `following` takes as its operand, or for a number that the variable sigil
// in `following` takes, if there is one.
StepHandler operand_handler(const Step& step, const Step& following) {
    if (step.op == Op::push_number) {
        if (following.op == Op::store_variable) return store_number;
        if (following.op == Op::add_to_variable) return add_number_to;
        if (following.op == Op::subtract_from_variable) return subtract_number_from;
    }
    const InlineWord* word = following.inline_word;
    if (following.op != Op::pure_native || word == nullptr) return nullptr;
    if (step.op == Op::push_number) return word->with_number;
    if (step.op == Op::fetch_variable) return word->with_variable;
    return nullptr;
}

struct NativeKind {
    Op op;
    const InlineWord* inline_word = nullptr;
};

template <typename Operation>
const InlineWord* two_operands() {
    static const InlineWord word{binary<Operation>, binary_with_number<Operation>, binary_with_variable<Operation>};
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
        {b::negate, {pure, alone<unary<o::Negate>>()}},
        {b::abs, {pure, alone<unary<o::Abs>>()}},
        {b::one_plus, {pure, alone<unary<o::OnePlus>>()}},
        {b::one_minus, {pure, alone<unary<o::OneMinus>>()}},
        {b::logical_not, {pure, alone<unary<o::Not>>()}},
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

void bind(Step& step, const Step* following) {
    if (following != nullptr) {
        if (const StepHandler both = operand_handler(step, *following)) {
            step.run = both;
            step.next = following->next;
            if (step.op == Op::push_number && following->op != Op::pure_native) step.variable = following->variable;
            return;
        }
    }
    step.run = handler_for(step);
}

}  // namespace forth
