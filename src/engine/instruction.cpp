#include "engine/instruction.hpp"

#include <array>

namespace forth {

namespace {

static_assert(std::size(form_table) == static_cast<std::size_t>(Form::count));

// What a row's op in `form` does: its copy, its operand, the row, then not,
// or the test of the flag and the list it runs in place.
constexpr Effect form_effect(Form form) {
    const FormInfo& made = info(form);
    Effect effect;
    effect.known = true;
    const auto add = [&effect](Part part) { effect.parts[effect.count++] = part; };
    if (made.copy == Copy::dup) add({1, 2});
    if (made.copy == Copy::over) add({2, 3});
    if (made.copy == Copy::tuck) {
        add({2, 2});
        add({2, 3});
    }
    if (made.operand == Operand::number || made.operand == Operand::variable) add({0, 1});
    if (made.operand == Operand::variable_number) add({0, 2});
    add(row_part);
    if (made.negated) add({1, 1});
    if (made.branch != Branch::none) {
        add(keeps_flag(made.branch) ? Part{1, 1} : Part{1, 0});
        add(body_part);
    }
    return effect;
}

#define PARTS(...) Effect::of({__VA_ARGS__})
#define PART(in, out) Part{in, out}
#define ROW_PART row_part
#define BODY_PART body_part
#define UNKNOWN Effect{}
constexpr OpInfo ops[] = {
#define TOLVA_OP(name, effect, exits, spelling) {#name, effect, spelling},
#include "engine/ops.def"
#undef TOLVA_OP
#define TOLVA_ROW_OP(row, form, ...) \
    {#row "_" #form, form_effect(Form::form), "", Row::row, Form::form},
#include "engine/row_ops.def"
#undef TOLVA_ROW_OP
};
#undef PARTS
#undef PART
#undef ROW_PART
#undef BODY_PART
#undef UNKNOWN
static_assert(std::size(ops) == static_cast<std::size_t>(Op::count));

constexpr auto by_row = [] {
    std::array<std::array<Op, static_cast<std::size_t>(Form::count)>, static_cast<std::size_t>(Row::count)> table{};
    for (auto& row : table) row.fill(Op::count);
    for (std::size_t op = 0; op < std::size(ops); ++op) {
        if (ops[op].row != Row::count)
            table[static_cast<std::size_t>(ops[op].row)][static_cast<std::size_t>(ops[op].form)] = static_cast<Op>(op);
    }
    return table;
}();

}  // namespace

const OpInfo& info(Op op) { return ops[static_cast<std::size_t>(op)]; }

Op op_of(Row row, Form form) { return by_row[static_cast<std::size_t>(row)][static_cast<std::size_t>(form)]; }

Reach reach_of(Op op, const Builtin* row, const Reach& body) {
    const Effect& effect = info(op).effect;
    Reach reach;
    for (std::size_t index = 0; index < effect.count; ++index) {
        const Part part = effect.parts[index];
        if (part.in == row_part.in) {
            reach = reach.then(Reach::of({static_cast<std::int8_t>(row->in), static_cast<std::int8_t>(row->out)}));
        } else if (part.in == body_part.in) {
            reach = reach.then(body);
        } else {
            reach = reach.then(Reach::of(part));
        }
    }
    return reach;
}

}  // namespace forth
