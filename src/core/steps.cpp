#include "core/steps.hpp"

#include "core/interpreter.hpp"
#include "core/machine.hpp"
#include "core/user_word.hpp"
#include "core/vocabulary.hpp"

// The handlers that run compiled steps, and which step gets which. The
// inline forms of built-in words are in steps.hpp, named by their rows.
namespace forth {

namespace {

[[gnu::flatten]] Next push_constant(Context& ctx, Step& step) {
    push(ctx, step.number());
    return Next::follow;
}

Next first_use_of_variable(Context& ctx, Step& step) {
    step.sigil_native(ctx, step.name());
    settle_variable(ctx, step);
    bind(step);
    return Next::follow;
}

// The steps of a word that needs no frame, run in place. They were all
// compiled with the step that calls them, and none of them can change the
// tables, so they are all still valid.
Next call_leaf(Context& ctx, Step& step) {
    // Laid out in line, when none of the calls in it can reach the depth
    // limit; each still polls for an interrupt where its frame would begin.
    if (FlatBody* const flat = step.flat(); flat != nullptr && ctx.runtime.depth + flat->depth < max_depth) {
        poll_interrupt();
        for (Step& inner : flat->steps) {
            if (inner.op == Op::enter_call) {
                poll_interrupt();
            } else {
                inner.run(ctx, inner);
            }
        }
        return Next::follow;
    }
    run_in_place(ctx, step.body);
    return Next::follow;
}

// The same, for a word whose one step runs a built-in, a number or a
// variable: that step alone, with no loop around it, and nothing inside it
// that the depth it would count could bound.
Next call_one_step(Context& ctx, Step& step) {
    check_call(ctx.runtime);
    Step& only = step.body->code->steps[0];
    return only.run(ctx, only);
}

bool one_plain_step(const ListNode* body) {
    const Step* const only = StraightSteps(body).only();
    return only != nullptr && only->op < Op::enter_call;
}

// Where a call laid out in line begins. call_leaf's loop polls at these
// steps itself, sparing a call of this for every call laid out.
Next enter_call(Context&, Step&) {
    poll_interrupt();
    return Next::follow;
}

Next straight(Context& ctx, Step& step) {
    step.native(ctx);
    return Next::follow;
}

// A construct run whole leaves what its opening word, the collecting and
// its closing word would; a comment collects into the buffer as it stands.
template <bool runs_straight_on>
Next construct(Context& ctx, Step& step) {
    const Construct construct = step.row->construct;
    if (construct == Construct::definition) ctx.text = step.name();
    if (construct == Construct::comment) {
        step.native(ctx);
    } else {
        close_whole(ctx, step);
    }
    return runs_straight_on ? Next::follow : Next::look;
}

Next quote_then(Context& ctx, Step& step) {
    close_whole_quote(ctx, step);
    return call_control(ctx, step.row->word, step.last) ? Next::follow : Next::look;
}

// The rest may change anything or push a frame; the step itself may be
// compiled anew while they run, so nothing reads it after.
Next native(Context& ctx, Step& step) {
    step.native(ctx);
    return Next::look;
}

Next control(Context& ctx, Step& step) {
    return call_control(ctx, step.native, step.last) ? Next::follow : Next::look;
}

Next call_user(Context& ctx, Step& step) {
    enter_node(ctx, step.body, step.last);
    return Next::enter;
}

Next call_word(Context& ctx, Step& step) {
    (*step.word)(ctx);
    return Next::look;
}

Next sigil(Context& ctx, Step& step) {
    (*step.handler)(ctx, step.name());
    return Next::look;
}

Next fail(Context& ctx, Step& step) {
    push_number(ctx, step.name());
    return Next::look;
}

StepHandler handler_for(const Step& step) {
    switch (step.op) {
        case Op::push_number: return push_constant;
        case Op::fetch_variable:
        case Op::change_variable: return step.row->fast->alone;
        case Op::straight: return step.row->fast != nullptr ? step.row->fast->alone : straight;
        case Op::construct: return construct<true>;
        case Op::variable_sigil: return first_use_of_variable;
        case Op::enter_call: return enter_call;
        case Op::quote_leaf: return step.row->fast->in_place_after_quote[0];
        case Op::call_leaf: return one_plain_step(step.body) ? call_one_step : call_leaf;
        case Op::native: return native;
        case Op::control: return control;
        case Op::quote_then: return step.row->fast != nullptr ? step.row->fast->after_quote[0] : quote_then;
        case Op::call_user: return call_user;
        case Op::call_word: return call_word;
        case Op::sigil: return sigil;
        case Op::define: return construct<false>;
        case Op::fail: return fail;
    }
    return fail;
}

}  // namespace

void bind(Step& step) { step.run = handler_for(step); }

}  // namespace forth
