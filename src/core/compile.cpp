#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "core/code.hpp"
#include "core/fuse.hpp"
#include "core/steps.hpp"
#include "core/user_word.hpp"
#include "core/vocabulary.hpp"

namespace forth {

namespace {

Op op_for(Kind kind) {
    switch (kind) {
        case Kind::straight: return Op::straight;
        case Kind::control: return Op::control;
        default: return Op::native;
    }
}

void word_step(Word& word, Step& step) {
    if (const auto* user_word = word.target<UserWord>()) {
        step.op = Op::call_user;
        step.body = user_word->body.node();
    } else if (const Builtin* row = row_of(word)) {
        step.op = op_for(row->kind);
        step.row = row;
        step.native = row->word;
    } else {
        step.op = Op::call_word;
        step.word = &word;
    }
}

bool works_on_variables(const Builtin* row) {
    return row != nullptr && (row->kind == Kind::variable || row->kind == Kind::fetch);
}

void sigil_step(Context& ctx, SigilHandler& handler, std::string name, Step& step) {
    step.op = Op::sigil;
    step.handler = &handler;
    step.row = row_of(handler);
    step.detail().name = std::move(name);
    if (works_on_variables(step.row)) {
        step.op = Op::variable_sigil;
        step.sigil_native = step.row->sigil;
        settle_variable(ctx, step);
    }
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
    const auto size = static_cast<std::uint32_t>(node->size());
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
    const Step previous = std::exchange(step, compile_token(ctx, std::string(node.token(index)), true));
    step.next = index + 1;
    if (step.op == Op::call_user && runs_straight_through(ctx, step.body, depth + 1)) {
        step.op = Op::call_leaf;
        if (calls_in_line(step.body)) {
            auto flat = std::make_unique<FlatBody>();
            if (lay_out(step.body, 0, *flat)) step.detail().flat = std::move(flat);
        }
        bind(step);
    } else {
        fuse(ctx, node, index, step, previous);
        // Likewise a quote that iftrue or iffalse runs, when its steps all run straight on.
        if (step.op == Op::quote_then && step.row->fast != nullptr && step.row->fast->in_place_after_quote[0] != nullptr &&
            runs_straight_through(ctx, step.list().node(), depth + 1)) {
            step.op = Op::quote_leaf;
            bind(step);
        }
        if (copies_before_quote(ctx, node, index, step)) {
            Step quote = previous;  // whose collected tokens the quote keeps
            compile_step_at_depth(ctx, node, step.next, quote, depth);
            fuse_copy(step, quote);
        }
    }
    step.last = step.next == node.size();
    step.generation = ctx.runtime.generation;
}

// The positions of the tokens that `step`, at `index`, looked up: all it
// covers, but for the tokens a construct collects without looking at them.
template <typename Visit>
bool all_names_looked_up(const ListNode& node, std::uint32_t index, const Step& step, Visit visit) {
    switch (step.op) {
        case Op::quote_then:
        case Op::quote_leaf: {
            // The opener, and a dup taken in before it.
            const auto opener = static_cast<std::uint32_t>(step.next - 3 - step.list().size());
            for (std::uint32_t position = index; position <= opener; ++position) {
                if (!visit(node.token(position))) return false;
            }
            return visit(node.token(step.next - 2)) && visit(node.token(step.next - 1));
        }
        case Op::construct:
        case Op::define:
            return visit(node.token(index)) && visit(node.token(step.next - 1));
        default:
            for (std::uint32_t position = index; position < step.next; ++position) {
                if (!visit(node.token(position))) return false;
            }
            return true;
    }
}

// True when every change since `step` was compiled is known and touched
// none of the names it looked up. A step found through an alias, or one
// that runs another word's steps in place, depends on more than its own
// tokens and is always compiled anew.
bool untouched(const Context& ctx, const ListNode& node, std::uint32_t index, const Step& step) {
    if (step.generation == 0 || step.through_alias || step.op == Op::call_leaf || step.op == Op::quote_leaf) return false;
    const auto& changes = ctx.runtime.changes;
    auto since = changes.begin();
    while (since != changes.end() && since->before != step.generation) ++since;
    if (since == changes.end()) return false;
    for (auto change = since; change != changes.end(); ++change) {
        if (change->name.empty()) return false;
        const bool unrelated = all_names_looked_up(node, index, step, [&](std::string_view token) { return token != change->name; });
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
        step.set_number(number.value);
    } else {
        step.op = Op::fail;
        step.detail().name = token;
    }
    bind(step);
    return step;
}

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

void settle_variable(Context& ctx, Step& step) {
    const auto variable = ctx.variables.find(step.name());
    if (variable == ctx.variables.end()) return;
    step.op = step.row->kind == Kind::fetch ? Op::fetch_variable : Op::change_variable;
    step.variable = &variable->second;
}

void compile_step(Context& ctx, ListNode& node, std::uint32_t index, Step& step) {
    compile_step_at_depth(ctx, node, index, step, 0);
}

}  // namespace forth
