#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "core/builtins.hpp"
#include "core/code.hpp"
#include "core/user_word.hpp"

namespace forth {

namespace {

using NativeWord = void (*)(Context&);
using NativeSigil = void (*)(Context&, const std::string&);

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
        step.body = user_word->body.node();
    } else if (const auto* native = word.target<NativeWord>()) {
        classify_native(*native, step);
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
    if (step.op == Op::native) {
        if (step.native == open_quotation) return Construct{Op::quote, end_of_quotation, close_list};
        if (step.native == open_block) return Construct{Op::quote, end_of_block, close_list};
        if (step.native == open_string) return Construct{Op::text_literal, end_of_string, close_string};
        if (step.native == open_comment) return Construct{Op::comment, end_of_comment, close_comment};
    }
    if (step.op == Op::sigil) {
        const auto* native = step.handler->target<NativeSigil>();
        if (native != nullptr && *native == open_definition) {
            return Construct{Op::define, end_of_definition, close_definition};
        }
    }
    return std::nullopt;
}

bool is_construct(Op op) {
    return op == Op::quote || op == Op::quote_iftrue || op == Op::quote_iffalse || op == Op::text_literal ||
           op == Op::comment || op == Op::define;
}

// An opening token whose closing token follows in the same list, with both
// words built in, does in one step what collecting token by token does.
bool fuse_construct(const Context& ctx, const ListNode& node, std::uint32_t index, Step& step, const Step& previous) {
    const auto construct = construct_opened_by(step);
    if (!construct) return false;
    const auto closing = ctx.words.find(construct->closer);
    if (closing == ctx.words.end() || !is_native(closing->second, construct->closing)) return false;
    const auto first = node.tokens.begin() + index + 1;
    const auto last = std::find(first, node.tokens.end(), construct->closer);
    if (last == node.tokens.end()) return false;  // stays open after the list: collected token by token
    // Compiled again after a change elsewhere: the same tokens, kept.
    const bool same = previous.list.size() == static_cast<std::size_t>(last - first) && is_construct(previous.op);
    step.list = same ? previous.list : TokenList(std::vector<std::string>(first, last));
    if (construct->op == Op::text_literal) step.name = joined(step.list);
    step.op = construct->op;
    step.next = static_cast<std::uint32_t>(last - node.tokens.begin()) + 1;
    bind(step);
    return true;
}

// A short run of steps that works on the top of the stack, as one step:
// a number or variable and the word that takes it, with dup before and not
// after; dup and a one-operand word; a number and a variable sigil.
void fuse_run(Context& ctx, const ListNode& node, std::uint32_t index, Step& step) {
    const bool may_start = step.op == Op::push_number || step.op == Op::fetch_variable ||
                           (step.op == Op::pure_native && step.native == builtin::dup);
    if (!may_start) return;
    constexpr std::size_t longest = 3;
    std::array<Step, longest> following;
    std::size_t count = 0;
    while (count < longest && index + 1 + count < node.tokens.size()) {
        following[count] = compile_token(ctx, node.tokens[index + 1 + count], true);
        ++count;
    }
    step.next += static_cast<std::uint32_t>(bind_run(step, std::span<const Step>(following.data(), count)));
}

// A whole [ ... ] or { ... } followed by the built-in iftrue or iffalse.
void fuse_conditional(Context& ctx, const ListNode& node, Step& step) {
    if (step.op != Op::quote || step.next >= node.tokens.size()) return;
    const Step following = compile_token(ctx, node.tokens[step.next], true);
    if (following.op != Op::control) return;
    if (following.native == builtin::iftrue) {
        step.op = Op::quote_iftrue;
    } else if (following.native == builtin::iffalse) {
        step.op = Op::quote_iffalse;
    } else {
        return;
    }
    ++step.next;
    step.through_alias |= following.through_alias;
    bind(step);
}

// How deep the search for words that need no frame looks into the words
// they call, and the marker of a list being searched, so that a word that
// calls itself is found to need frames instead of searched without end.
constexpr int deepest_search = 8;

void compile_step_at_depth(Context& ctx, ListNode& node, std::uint32_t index, Step& step, int depth);
void refresh_step_at_depth(Context& ctx, ListNode& node, std::uint32_t index, Step& step, int depth);

bool runs_straight_through(Context& ctx, ListNode* node, int depth) {
    if (node == nullptr) return true;
    if (depth > deepest_search) return false;
    Code& code = code_of(*node);
    if (code.searching) return false;
    code.searching = true;
    bool straight = true;
    const auto size = static_cast<std::uint32_t>(node->tokens.size());
    for (std::uint32_t pc = 0; straight && pc < size; pc = code.steps[pc].next) {
        Step& step = code.steps[pc];
        if (step.generation != ctx.runtime.generation) refresh_step_at_depth(ctx, *node, pc, step, depth);
        straight = runs_straight_on(step.op);
    }
    code.searching = false;
    return straight;
}

// Only a body that calls other words gains from being laid out in line.
bool calls_in_line(const ListNode* body) {
    if (body == nullptr) return false;
    const std::vector<Step>& steps = body->code->steps;
    for (std::size_t pc = 0; pc < steps.size(); pc = steps[pc].next) {
        if (steps[pc].op == Op::call_leaf) return true;
    }
    return false;
}

// Lays out the steps of `body`, and those of the words it calls, in line;
// false when that would make more steps than is worth it.
bool lay_out(const ListNode* body, std::size_t level, FlatBody& flat) {
    constexpr std::size_t most_steps = 256;
    if (body == nullptr) return true;
    flat.depth = std::max(flat.depth, level);
    const std::vector<Step>& steps = body->code->steps;
    for (std::size_t pc = 0; pc < steps.size(); pc = steps[pc].next) {
        if (flat.steps.size() >= most_steps) return false;
        const Step& step = steps[pc];
        if (step.op == Op::call_leaf) {
            Step enter;
            enter.op = Op::enter_call;
            bind(enter);
            flat.steps.push_back(std::move(enter));
            if (!lay_out(step.body, level + 1, flat)) return false;
        } else {
            flat.steps.push_back(step);
        }
    }
    return true;
}

void compile_step_at_depth(Context& ctx, ListNode& node, std::uint32_t index, Step& step, int depth) {
    const Step previous = std::exchange(step, compile_token(ctx, node.tokens[index], true));
    step.next = index + 1;
    if (fuse_construct(ctx, node, index, step, previous)) {
        fuse_conditional(ctx, node, step);
    } else if (step.op == Op::call_user && runs_straight_through(ctx, step.body, depth + 1)) {
        step.op = Op::call_leaf;
        if (calls_in_line(step.body)) {
            auto flat = std::make_shared<FlatBody>();
            if (lay_out(step.body, 0, *flat)) step.flat = std::move(flat);
        }
        bind(step);
    } else {
        fuse_run(ctx, node, index, step);
    }
    step.last = step.next == node.tokens.size();
    step.generation = ctx.runtime.generation;
}

// The positions of the tokens that `step`, at `index`, looked up: all it
// covers, but for the tokens a construct collects without looking at them.
template <typename Visit>
bool all_names_looked_up(const ListNode& node, std::uint32_t index, const Step& step, Visit visit) {
    switch (step.op) {
        case Op::quote_iftrue:
        case Op::quote_iffalse:
            return visit(node.tokens[index]) && visit(node.tokens[step.next - 2]) && visit(node.tokens[step.next - 1]);
        case Op::quote:
        case Op::text_literal:
        case Op::comment:
        case Op::define:
            return visit(node.tokens[index]) && visit(node.tokens[step.next - 1]);
        default:
            for (std::uint32_t position = index; position < step.next; ++position) {
                if (!visit(node.tokens[position])) return false;
            }
            return true;
    }
}

// True when every change since `step` was compiled is known and touched
// none of the names it looked up. A step found through an alias, or one
// that runs another word's steps in place, depends on more than its own
// tokens and is always compiled anew.
bool untouched(const Context& ctx, const ListNode& node, std::uint32_t index, const Step& step) {
    if (step.generation == 0 || step.through_alias || step.op == Op::call_leaf) return false;
    const auto& changes = ctx.runtime.changes;
    auto since = changes.begin();
    while (since != changes.end() && since->before != step.generation) ++since;
    if (since == changes.end()) return false;
    for (auto change = since; change != changes.end(); ++change) {
        if (change->name.empty()) return false;
        const bool unrelated = all_names_looked_up(node, index, step, [&](const std::string& token) { return token != change->name; });
        if (!unrelated) return false;
    }
    return true;
}

void refresh_step_at_depth(Context& ctx, ListNode& node, std::uint32_t index, Step& step, int depth) {
    if (untouched(ctx, node, index, step)) {
        step.generation = ctx.runtime.generation;
    } else {
        compile_step_at_depth(ctx, node, index, step, depth);
    }
}

}  // namespace

void refresh_step(Context& ctx, ListNode& node, std::uint32_t index, Step& step) {
    refresh_step_at_depth(ctx, node, index, step, 0);
}

Step compile_token(Context& ctx, const std::string& token, bool expand_aliases) {
    if (expand_aliases && ctx.runtime.alias_initials.test(static_cast<unsigned char>(token.c_str()[0]))) {
        if (const auto alias = ctx.aliases.find(token); alias != ctx.aliases.end()) {
            Step step = compile_token(ctx, alias->second, false);
            step.through_alias = true;
            return step;
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
    const LeadingNumber number = leading_number(token);
    if (number.found && number.in_range) {
        step.op = Op::push_number;
        step.number = number.value;
    } else {
        step.op = Op::fail;
        step.name = token;
    }
    bind(step);
    return step;
}

LeadingNumber leading_number(const std::string& token) {
    const char* const start = token.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(start, &end);
    return {value, end != start, errno != ERANGE};
}

void settle_variable(Context& ctx, Step& step) {
    const auto variable = ctx.variables.find(step.name);
    if (variable == ctx.variables.end()) return;
    step.op = *variable_op(step.sigil_native);
    step.variable = &variable->second;
}

void compile_step(Context& ctx, ListNode& node, std::uint32_t index, Step& step) {
    compile_step_at_depth(ctx, node, index, step, 0);
}

}  // namespace forth
