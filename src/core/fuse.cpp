#include "core/fuse.hpp"

#include <algorithm>
#include <array>
#include <span>

#include "core/steps.hpp"
#include "core/vocabulary.hpp"

// The rules by which several tokens of a list run as one step. Each rule
// keeps to what the tokens one by one would do; the vocabulary's rows say
// which words take part.
namespace forth {

namespace {

const InlineWord* fast_form(const Step& step) { return step.op == Op::straight ? step.row->fast : nullptr; }

Copy copies(const Step& step) { return fast_form(step) != nullptr ? fast_form(step)->copies : Copy::none; }

bool negates(const Step& step) { return fast_form(step) != nullptr && fast_form(step)->negates; }

const OperandForms* operand_forms(const Step& step) { return fast_form(step) != nullptr ? fast_form(step)->operand : nullptr; }

// An opening word whose closing word follows in the same list, while that
// is the built-in one, does in one step what collecting token by token does.
bool fuse_construct(const Context& ctx, const ListNode& node, std::uint32_t index, Step& step, const Step& previous) {
    if (step.row == nullptr || step.row->kind != Kind::opener) return false;
    const Builtin& opener = *step.row;
    const std::string closer(opener.closer);
    const auto closing = ctx.words.find(closer);
    const Builtin* closing_row = closing == ctx.words.end() ? nullptr : row_of(closing->second);
    if (closing_row == nullptr || closing_row->name != closer) return false;
    const std::uint32_t first = index + 1;
    std::uint32_t last = first;
    while (last < node.size() && node.token(last) != closer) ++last;
    if (last == node.size()) return false;  // stays open after the list: collected token by token
    // Compiled again after a change elsewhere: the same tokens, kept.
    const bool same = previous.list().size() == last - first &&
                      (previous.op == Op::construct || previous.op == Op::quote_then || previous.op == Op::quote_leaf ||
                       previous.op == Op::define);
    TokenList& list = step.detail().list;
    if (same) {
        list = previous.list();
    } else {
        for (std::uint32_t position = first; position < last; ++position) list.push_back(node.token(position));
    }
    step.op = opener.construct == Construct::definition ? Op::define : Op::construct;
    step.native = closing_row->word;
    step.next = last + 1;
    return true;
}

// A whole quote and the control word right after it, which runs it.
void fuse_control(Context& ctx, const ListNode& node, Step& step) {
    if (step.op != Op::construct || step.row->construct != Construct::list || step.next >= node.size()) return;
    const Step following = compile_token(ctx, std::string(node.token(step.next)), true);
    if (following.op != Op::control) return;
    step.op = Op::quote_then;
    step.row = following.row;
    ++step.next;
    step.through_alias |= following.through_alias;
}

// Gives `step` a handler that runs it and the first of `following` (the
// steps of the tokens after it, looked up on their own) as one, if they
// make such a run: a number and a variable sigil; a variable, a number and
// a two-operand word; a number or variable and the word that takes it, with
// dup or over before and not after; dup or over and a one- or two-operand
// word. Returns how many of `following` it takes.
std::size_t fuse_run(Step& step, std::span<const Step> following) {
    const auto take = [&](std::size_t count, StepHandler handler) {
        step.run = handler;
        for (std::size_t taken = 0; taken < count; ++taken) step.through_alias |= following[taken].through_alias;
        return count;
    };
    if (following.empty()) return 0;
    if (step.op == Op::push_number && following[0].op == Op::change_variable) {
        step.variable = following[0].variable;
        return take(1, following[0].row->fast->with_number_before);
    }
    if (step.op == Op::fetch_variable && following.size() >= 2 && following[0].op == Op::push_number &&
        operand_forms(following[1]) != nullptr) {
        const bool negate = following.size() > 2 && negates(following[2]);
        step.set_number(following[0].number());
        return take(negate ? 3 : 2, operand_forms(following[1])->variable_with_number[negate ? 1 : 0]);
    }
    const Copy copy = copies(step);
    const std::size_t skip = copy != Copy::none ? 1 : 0;
    const Step& operand = skip != 0 ? following[0] : step;
    const bool number = operand.op == Op::push_number;
    if ((number || operand.op == Op::fetch_variable) && following.size() > skip && operand_forms(following[skip]) != nullptr) {
        const bool negate = following.size() > skip + 1 && negates(following[skip + 1]);
        if (number) {
            step.set_number(operand.number());
        } else {
            step.variable = operand.variable;
        }
        const OperandForms& forms = *operand_forms(following[skip]);
        const auto& handlers = number ? forms.with_number : forms.with_variable;
        return take(skip + 1 + (negate ? 1 : 0), handlers[static_cast<int>(copy)][negate ? 1 : 0]);
    }
    if (const InlineWord* const word = fast_form(following[0]); skip != 0 && word != nullptr) {
        if (const StepHandler on_copy = word->on_copy[static_cast<int>(copy)]) return take(1, on_copy);
    }
    return 0;
}

void fuse_run(Context& ctx, const ListNode& node, std::uint32_t index, Step& step) {
    if (step.op != Op::push_number && step.op != Op::fetch_variable && copies(step) == Copy::none) return;
    constexpr std::size_t longest = 3;
    std::array<Step, longest> following;
    std::size_t count = 0;
    while (count < longest && index + 1 + count < node.size()) {
        following[count] = compile_token(ctx, std::string(node.token(index + 1 + count)), true);
        ++count;
    }
    step.next += static_cast<std::uint32_t>(fuse_run(step, std::span<const Step>(following.data(), count)));
}

}  // namespace

bool copies_before_quote(Context& ctx, const ListNode& node, std::uint32_t index, const Step& step) {
    if (copies(step) != Copy::top || step.next != index + 1 || step.next >= node.size()) return false;
    const Step opener = compile_token(ctx, std::string(node.token(step.next)), true);
    return opener.row != nullptr && opener.row->kind == Kind::opener && opener.row->construct == Construct::list;
}

void fuse_copy(Step& step, const Step& quote) {
    const InlineWord* const fast = quote.row != nullptr ? quote.row->fast : nullptr;
    if ((quote.op != Op::quote_then && quote.op != Op::quote_leaf) || fast == nullptr) return;
    const bool through_alias = step.through_alias || quote.through_alias;
    step = quote;
    step.through_alias = through_alias;
    step.run = quote.op == Op::quote_leaf ? fast->in_place_after_quote[1] : fast->after_quote[1];
}

void fuse(Context& ctx, const ListNode& node, std::uint32_t index, Step& step, const Step& previous) {
    if (fuse_construct(ctx, node, index, step, previous)) {
        fuse_control(ctx, node, step);
        bind(step);
    } else {
        fuse_run(ctx, node, index, step);
    }
}

}  // namespace forth
