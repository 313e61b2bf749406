#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "core/context.hpp"
#include "core/entry.hpp"
#include "engine/forms.def"
#include "words/vocabulary.hpp"

// The evaluator's instructions: its own (engine/ops.def) and those that the
// vocabulary's rows make (engine/row_ops.def), each declared once with
// what it does to the stack and how it may leave.
namespace forth {

// How an instruction may leave other than by going on to the next.
enum Exit : std::uint8_t { fails = 1, calls = 2, changes = 4, ends = 8 };

// One part of what an instruction does to the stack: it needs the stack
// `in` deep, takes `in` values and leaves `out`. Two marks stand for parts
// known only where the instruction is made: its row's own, and the body
// that a call runs in place.
struct Part {
    std::int8_t in = 0;
    std::int8_t out = 0;
};
inline constexpr Part row_part{-1, -1};
inline constexpr Part body_part{-2, -2};

struct Effect {
    std::array<Part, 5> parts{};
    std::uint8_t count = 0;
    bool known = false;

    static constexpr Effect of(std::initializer_list<Part> list) {
        Effect effect;
        effect.known = true;
        for (const Part part : list) effect.parts[effect.count++] = part;
        return effect;
    }
};

// What a run of instructions does to the depth, as the guard at its head
// checks it: the depth it needs, what it changes the depth by, and the most
// it grows it by on the way.
struct Reach {
    std::int32_t need = 0, delta = 0, room = 0;

    // The reach of this, then `next`.
    constexpr Reach then(const Reach& next) const {
        return {std::max(need, next.need - delta), delta + next.delta, std::max(room, delta + next.room)};
    }
    static constexpr Reach of(Part part) {
        return {part.in, part.out - part.in, std::max(0, part.out - part.in)};
    }
};

enum class Copy : std::uint8_t { none, dup, over, tuck };
enum class Operand : std::uint8_t { stack, number, variable, variable_number };
enum class Branch : std::uint8_t { none, iftrue, iffalse, dup_iftrue, dup_iffalse };
// Whether the flag stays on the stack for what follows, and whether the
// list runs when it is true.
constexpr bool keeps_flag(Branch branch) { return branch == Branch::dup_iftrue || branch == Branch::dup_iffalse; }
constexpr bool runs_on_true(Branch branch) { return branch == Branch::iftrue || branch == Branch::dup_iftrue; }

enum class Form : std::uint8_t {
#define TOLVA_FORM(row, form, ...) form,
    TOLVA_FORMS(TOLVA_FORM)
#undef TOLVA_FORM
        count
};

// A form's copy, operand, negation and branch.
struct FormInfo {
    const char* name;
    Copy copy;
    Operand operand;
    bool negated;
    Branch branch;
};
inline constexpr FormInfo form_table[] = {
#define TOLVA_FORM(row, form, copy, operand, negated, branch) \
    {#form, Copy::copy, Operand::operand, negated, Branch::branch},
    TOLVA_FORMS(TOLVA_FORM)
#undef TOLVA_FORM
};
constexpr const FormInfo& info(Form form) { return form_table[static_cast<std::size_t>(form)]; }

enum class Op : std::uint16_t {
#define TOLVA_OP(name, ...) name,
#include "engine/ops.def"
#undef TOLVA_OP
#define TOLVA_ROW_OP(row, form, ...) row##_##form,
#include "engine/row_ops.def"
#undef TOLVA_ROW_OP
        count
};

// How each op may leave (Exit), known where the loop is compiled, which
// ends each op as its exits say.
inline constexpr std::uint8_t op_exits[] = {
#define TOLVA_OP(name, effect, exits, spelling) exits,
#include "engine/ops.def"
#undef TOLVA_OP
#define TOLVA_ROW_OP(...) fails,
#include "engine/row_ops.def"
#undef TOLVA_ROW_OP
};
static_assert(std::size(op_exits) == static_cast<std::size_t>(Op::count));
constexpr std::uint8_t exits_of(Op op) { return op_exits[static_cast<std::size_t>(op)]; }

// The form of each row's op; Form::count for the others.
inline constexpr Form op_forms[] = {
#define TOLVA_OP(...) Form::count,
#include "engine/ops.def"
#undef TOLVA_OP
#define TOLVA_ROW_OP(row, form, ...) Form::form,
#include "engine/row_ops.def"
#undef TOLVA_ROW_OP
};
static_assert(std::size(op_forms) == static_cast<std::size_t>(Op::count));
// Whether it is a comparison that tests its flag at once, its list in line.
constexpr bool branches(Op op) {
    const Form form = op_forms[static_cast<std::size_t>(op)];
    return form != Form::count && info(form).branch != Branch::none;
}

// An instruction's declaration: ops.def's, or for a row's op its row and
// form and what they make of the stack.
struct OpInfo {
    const char* name;
    Effect effect;
    const char* spelling;  // tokens that compile to it alone; "" for none
    Row row = Row::count;  // of a row's op
    Form form = Form::count;
};
const OpInfo& info(Op op);

// Whether it runs straight on (inside a guarded run): it may fail, but it
// neither calls, changes the tables nor ends its list.
constexpr bool is_straight(Op op) { return (exits_of(op) & (calls | changes | ends)) == 0; }

// The op that does as `op` does, as its list's last act: its call takes
// the list's frame over. `op` itself for an op that calls no list so.
constexpr Op tail_form(Op op) {
    switch (op) {
        case Op::call: return Op::tail_call;
        case Op::call_proven: return Op::tail_call_proven;
        case Op::quote_iftrue_spliced: return Op::quote_iftrue_spliced_tail;
        case Op::quote_iffalse_spliced: return Op::quote_iffalse_spliced_tail;
        case Op::dup_quote_iftrue_spliced: return Op::dup_quote_iftrue_spliced_tail;
        case Op::dup_quote_iffalse_spliced: return Op::dup_quote_iffalse_spliced_tail;
        case Op::quote_iftrue: return Op::quote_iftrue_tail;
        case Op::quote_iffalse: return Op::quote_iffalse_tail;
        case Op::dup_quote_iftrue: return Op::dup_quote_iftrue_tail;
        case Op::dup_quote_iffalse: return Op::dup_quote_iffalse_tail;
        case Op::quote_iftrue_call: return Op::quote_iftrue_call_tail;
        case Op::quote_iffalse_call: return Op::quote_iffalse_call_tail;
        case Op::dup_quote_iftrue_call: return Op::dup_quote_iftrue_call_tail;
        case Op::dup_quote_iffalse_call: return Op::dup_quote_iffalse_call_tail;
        case Op::else_call: return Op::else_call_tail;
        case Op::else_call_proven: return Op::else_call_tail_proven;
        case Op::else_spliced: return Op::else_spliced_tail;
        default: return op;
    }
}

// The op of which `op` is the tail form; `op` itself for any other.
constexpr Op non_tail_form(Op op) {
    for (auto other = static_cast<std::uint16_t>(0); other < static_cast<std::uint16_t>(Op::count); ++other) {
        if (static_cast<Op>(other) != op && tail_form(static_cast<Op>(other)) == op) return static_cast<Op>(other);
    }
    return op;
}

// Whether lists lay the if-else idiom's else ops (Assembler::link_else):
// not in the page's build, whose download is held to a size.
#ifdef __EMSCRIPTEN__
inline constexpr bool lays_else = false;
#else
inline constexpr bool lays_else = true;
#endif

// How a conditional whose list follows in line, or is entered at once,
// takes its flag: Branch::none for any other op.
constexpr Branch branch_of(Op op) {
    switch (op) {
        case Op::quote_iftrue_call: case Op::quote_iftrue_call_tail: case Op::quote_iftrue_in_place:
        case Op::quote_iftrue_spliced: case Op::quote_iftrue_spliced_tail:
            return Branch::iftrue;
        case Op::quote_iffalse_call: case Op::quote_iffalse_call_tail: case Op::quote_iffalse_in_place:
        case Op::quote_iffalse_spliced: case Op::quote_iffalse_spliced_tail:
            return Branch::iffalse;
        case Op::dup_quote_iftrue_in_place: case Op::dup_quote_iftrue_spliced:
            return Branch::dup_iftrue;
        case Op::dup_quote_iffalse_in_place: case Op::dup_quote_iffalse_spliced:
            return Branch::dup_iffalse;
        default:
            return branches(op) ? info(op_forms[static_cast<std::size_t>(op)]).branch : Branch::none;
    }
}

// The op that does as the conditional `op` does once its flag said to run
// its list (else_call and the others); Op::count for any other.
constexpr Op else_form(Op op) {
    switch (op) {
        case Op::quote_iftrue_call: case Op::quote_iffalse_call: return Op::else_call;
        case Op::quote_iftrue_call_tail: case Op::quote_iffalse_call_tail: return Op::else_call_tail;
        case Op::quote_iftrue_in_place: case Op::quote_iffalse_in_place: return Op::else_in_place;
        case Op::quote_iftrue_spliced: case Op::quote_iffalse_spliced: return Op::else_spliced;
        case Op::quote_iftrue_spliced_tail: case Op::quote_iffalse_spliced_tail: return Op::else_spliced_tail;
        default: return Op::count;
    }
}

// Whether it stands in a slot after an instruction's first, which the op
// before it reads: an operand's, or an else op's (which goes back to it).
constexpr bool is_slot(Op op) {
    switch (op) {
        case Op::data: case Op::else_call: case Op::else_call_tail: case Op::else_call_proven:
        case Op::else_call_tail_proven: case Op::else_in_place: case Op::else_spliced: case Op::else_spliced_tail:
            return true;
        default:
            return false;
    }
}

// Whether it calls a word defined in the language, through its list.
constexpr bool calls_word(Op op) {
    return op == Op::call || op == Op::tail_call || op == Op::call_proven || op == Op::tail_call_proven;
}

// Whether it stands for a call whose body's instructions follow it in line
// (a conditional's list, too), `calls` deep in such bodies.
constexpr bool laid_in(Op op) {
    return op == Op::call_in_place || op == Op::call_in_place_marked || op == Op::call_in_place_counted ||
           op == Op::quote_iftrue_in_place || op == Op::quote_iffalse_in_place ||
           op == Op::dup_quote_iftrue_in_place || op == Op::dup_quote_iffalse_in_place || branches(op);
}

// The reach of `op` made for `row` (if any), with `body` the reach of the
// body it runs in place (if any); its effect must be known.
Reach reach_of(Op op, const Builtin* row, const Reach& body = {});

// How many tokens come before the word in `form`: the copy and the operands.
constexpr int before_word(const FormInfo& made) {
    return (made.copy == Copy::tuck ? 2 : made.copy != Copy::none ? 1 : 0) +
           (made.operand == Operand::variable_number ? 2 : made.operand != Operand::stack ? 1 : 0);
}

// The op of `row` in `form`; Op::count where the row has no such form.
Op op_of(Row row, Form form);

struct Code;
struct CountedCalls;

// Of the few instructions that need more than one operand: kept out of the
// instruction array.
struct Named {
    std::string name;                 // a sigil's name, a failing token, a definition's name
    SigilHandler* handler = nullptr;  // sigil: any other sigil
    const Builtin* row = nullptr;     // variable_sigil, sigil: the sigil's row, if built in
};

// What the head of a straight run checks, in bytes from the top's slot:
// the depth it must reach, (need - 1) values from the first slot, and the
// room its run takes before the stack's end.
struct Guard {
    std::int32_t below;
    std::int32_t room;
};

// One instruction: 16 bytes, what it does, whether a frame may start at
// it, the token it begins at and its operand. An instruction that needs
// two operands takes a second slot (op `data`) for the second.
struct Instr {
    Op op;
    bool entry;          // a frame may go on from here: it begins no part of a straight run but its head
    // call_in_place: how many calls deep its body is laid in. Of
    // call_proven's second slot: the depth the run before it proves, in
    // values, at most 255.
    std::uint8_t calls;
    std::uint32_t token;  // the first token of the list that it runs
    union Operand {
        double number;
        double* variable;
        ListNode* node;  // call, quotes: the list
        // A call's second and third slots: the code it last entered and
        // where it went in past the guard (engine/machine.cpp).
        const Code* code;
        const Instr* instr;
        Word* word;
        Named* named;
        void (*native)(Context&);
        Entry (*enter)(Context&);
        Guard guard;
        // Of an op laid in (call_in_place, or a conditional's second
        // slot): the frames its calls take, in bytes, as the limit is
        // checked; and a conditional's distance from its first slot to
        // what follows its list.
        struct {
            std::int32_t skip;
            std::int32_t frames;
        } laid;
        CountedCalls* counted;  // call_in_place_counted's second slot
        // The third slot of call_in_place_marked: the stack
        // of calls it was last made in and the one it made (engine/profiler.hpp).
        struct {
            std::uint32_t below;
            std::uint32_t stack;
        } profiled;
    } operand;
};
static_assert(sizeof(Instr) == 16);

}  // namespace forth
