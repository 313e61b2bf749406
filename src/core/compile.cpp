#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "core/builtins.hpp"
#include "core/code.hpp"
#include "core/user_word.hpp"

namespace forth {

namespace {

using NativeWord = void (*)(Context&);
using NativeSigil = void (*)(Context&, const std::string&);

// How the evaluator may run each built-in word. Those that only work on the
// stack, variables, text register, lists, input and output run straight on;
// those that run a list leave it to the evaluator as a frame. Every other
// word, built-in or not, makes the evaluator look at its state again.
Op kind_of(NativeWord word) {
    using namespace builtin;
    static const std::unordered_map<NativeWord, Op> kinds = {
        {depth, Op::pure_native},        {print_stack, Op::pure_native},   {list_words, Op::pure_native},
        {list_sigils, Op::pure_native},  {list_aliases, Op::pure_native},  {close_comment, Op::pure_native},
        {close_list, Op::pure_native},   {close_string, Op::pure_native},  {print_number, Op::pure_native},
        {emit, Op::pure_native},         {space, Op::pure_native},         {spaces, Op::pure_native},
        {cr, Op::pure_native},           {print_text, Op::pure_native},    {accept, Op::pure_native},
        {number, Op::pure_native},       {parse_name, Op::pure_native},    {add, Op::pure_native},
        {subtract, Op::pure_native},     {multiply, Op::pure_native},      {divide, Op::pure_native},
        {mod, Op::pure_native},          {slash_mod, Op::pure_native},     {negate, Op::pure_native},
        {abs, Op::pure_native},          {min, Op::pure_native},           {max, Op::pure_native},
        {one_plus, Op::pure_native},     {one_minus, Op::pure_native},     {drop, Op::pure_native},
        {dup, Op::pure_native},          {two_dup, Op::pure_native},       {over, Op::pure_native},
        {swap, Op::pure_native},         {rot, Op::pure_native},           {minus_rot, Op::pure_native},
        {less, Op::pure_native},         {less_equal, Op::pure_native},    {greater, Op::pure_native},
        {greater_equal, Op::pure_native}, {equal, Op::pure_native},        {not_equal, Op::pure_native},
        {logical_and, Op::pure_native},  {logical_or, Op::pure_native},    {logical_not, Op::pure_native},
        {while_loop, Op::pure_native},   {until_loop, Op::pure_native},    {times, Op::control},
        {iftrue, Op::control},           {iffalse, Op::control},           {repeat, Op::control},
        {execute, Op::control},          {interpret, Op::control},
    };
    const auto kind = kinds.find(word);
    return kind == kinds.end() ? Op::native : kind->second;
}

// The variable sigils, and what each becomes once its variable exists.
std::optional<Op> variable_op(NativeSigil sigil) {
    using namespace builtin;
    if (sigil == fetch_variable) return Op::fetch_variable;
    if (sigil == store_variable) return Op::store_variable;
    if (sigil == add_to_variable) return Op::add_to_variable;
    if (sigil == subtract_from_variable) return Op::subtract_from_variable;
    return std::nullopt;
}

void word_step(Word& word, Step& step) {
    if (const auto* user_word = word.target<UserWord>()) {
        step.op = Op::call_user;
        step.list = user_word->body;
    } else if (const auto* native = word.target<NativeWord>()) {
        step.op = kind_of(*native);
        step.native = *native;
    } else {
        step.op = Op::call_word;
        step.word = &word;
    }
}

void sigil_step(Context& ctx, SigilHandler& handler, std::string name, Step& step) {
    step.op = Op::sigil;
    step.handler = &handler;
    if (const auto* native = handler.target<NativeSigil>()) {
        if (const auto op = variable_op(*native)) {
            if (const auto variable = ctx.variables.find(name); variable != ctx.variables.end()) {
                step.op = *op;
                step.variable = &variable->second;
            } else {
                step.op = Op::variable_sigil;
                step.sigil_native = *native;
            }
        }
    }
    step.name = std::move(name);
}

bool is_native(const Word& word, NativeWord expected) {
    const auto* native = word.target<NativeWord>();
    return native != nullptr && *native == expected;
}

// A construct as one step: what it becomes, the token that closes it and
// the closing word's built-in behaviour.
struct Construct {
    Op op;
    const std::string& closer;
    NativeWord closing;
};

std::optional<Construct> construct_opened_by(const Step& step) {
    using namespace builtin;
    static const std::string bracket = "]", brace = "}", parenthesis = ")", comment = "*/", semicolon = ";";
    if (step.op == Op::native) {
        if (step.native == open_quotation) return Construct{Op::quote, bracket, close_list};
        if (step.native == open_block) return Construct{Op::quote, brace, close_list};
        if (step.native == open_string) return Construct{Op::text_literal, parenthesis, close_string};
        if (step.native == open_comment) return Construct{Op::comment, comment, close_comment};
    }
    if (step.op == Op::sigil) {
        const auto* native = step.handler->target<NativeSigil>();
        if (native != nullptr && *native == open_definition) return Construct{Op::define, semicolon, close_definition};
    }
    return std::nullopt;
}

std::string joined(const std::vector<std::string>& tokens) {
    std::string text;
    for (const std::string& token : tokens) {
        text += token;
        text += ' ';
    }
    if (!text.empty()) text.pop_back();
    return text;
}

// An opening token whose closing token follows in the same list, with both
// words built in, does in one step what collecting token by token does.
bool fuse_construct(const Context& ctx, const ListNode& node, std::uint32_t index, Step& step) {
    const auto construct = construct_opened_by(step);
    if (!construct) return false;
    const auto closing = ctx.words.find(construct->closer);
    if (closing == ctx.words.end() || !is_native(closing->second, construct->closing)) return false;
    const auto first = node.tokens.begin() + index + 1;
    const auto last = std::find(first, node.tokens.end(), construct->closer);
    if (last == node.tokens.end()) return false;  // stays open after the list: collected token by token
    std::vector<std::string> inside(first, last);
    if (construct->op == Op::text_literal) step.name = joined(inside);
    step.list = TokenList(std::move(inside));
    step.op = construct->op;
    step.next = static_cast<std::uint32_t>(last - node.tokens.begin()) + 1;
    bind(step);
    return true;
}

// A number or a variable whose value the next token's word takes at once.
void fuse_operand(Context& ctx, const ListNode& node, std::uint32_t index, Step& step) {
    if (step.op != Op::push_number && step.op != Op::fetch_variable) return;
    if (index + 1 >= node.tokens.size()) return;
    Step following = compile_token(ctx, node.tokens[index + 1], true);
    following.next = index + 2;
    bind(step, &following);
}

}  // namespace

Step compile_token(Context& ctx, const std::string& token, bool expand_aliases) {
    if (expand_aliases) {
        if (const auto alias = ctx.aliases.find(token); alias != ctx.aliases.end()) {
            return compile_token(ctx, alias->second, false);
        }
    }
    Step step;
    if (const auto word = ctx.words.find(token); word != ctx.words.end()) {
        word_step(word->second, step);
        bind(step);
        return step;
    }
    // token[0] of an empty token is its terminating NUL, which is no sigil.
    if (const auto sigil = ctx.sigils.find(token[0]); sigil != ctx.sigils.end()) {
        sigil_step(ctx, sigil->second, token.substr(1), step);
        bind(step);
        return step;
    }
    const char* const start = token.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(start, &end);
    if (end == start || errno == ERANGE) {
        step.op = Op::fail;
        step.name = token;
    } else {
        step.op = Op::push_number;
        step.number = value;
    }
    bind(step);
    return step;
}

void settle_variable(Context& ctx, Step& step) {
    const auto variable = ctx.variables.find(step.name);
    if (variable == ctx.variables.end()) return;
    step.op = *variable_op(step.sigil_native);
    step.variable = &variable->second;
}

void compile_step(Context& ctx, const ListNode& node, std::uint32_t index, Step& step) {
    step = compile_token(ctx, node.tokens[index], true);
    step.next = index + 1;
    if (!fuse_construct(ctx, node, index, step)) fuse_operand(ctx, node, index, step);
    step.generation = ctx.runtime.generation;
}

}  // namespace forth
