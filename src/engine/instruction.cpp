#include "engine/instruction.hpp"

#include <array>

namespace forth {

namespace {

constexpr const char* names[] = {
#define TOLVA_OP(name, straight) #name,
    TOLVA_ENGINE_OPS(TOLVA_OP)
#include "engine/row_ops.def"
#undef TOLVA_OP
};
static_assert(std::size(names) == static_cast<std::size_t>(Op::count));

constexpr bool straight[] = {
#define TOLVA_OP(name, straight) straight,
    TOLVA_ENGINE_OPS(TOLVA_OP)
#include "engine/row_ops.def"
#undef TOLVA_OP
};

constexpr RowOps none() {
    RowOps ops;
    for (auto& operand : ops.with)
        for (auto& copy : operand)
            for (Op& op : copy) op = Op::count;
    for (Op& op : ops.variable_number) op = Op::count;
    for (Op& op : ops.on_copy) op = Op::count;
    return ops;
}

constexpr auto table = [] {
    std::array<RowOps, static_cast<std::size_t>(Row::count)> ops;
    ops.fill(none());
    const auto at = [&ops](Row row) -> RowOps& { return ops[static_cast<std::size_t>(row)]; };
#define TOLVA_FORMS(id)                                                                               \
    at(Row::id).with[0][0][0] = Op::id##_n, at(Row::id).with[0][0][1] = Op::id##_n_not,               \
    at(Row::id).with[1][0][0] = Op::id##_v, at(Row::id).with[1][0][1] = Op::id##_v_not,               \
    at(Row::id).with[0][1][0] = Op::dup_##id##_n, at(Row::id).with[0][1][1] = Op::dup_##id##_n_not,   \
    at(Row::id).with[1][1][0] = Op::dup_##id##_v, at(Row::id).with[1][1][1] = Op::dup_##id##_v_not,   \
    at(Row::id).with[0][2][0] = Op::over_##id##_n, at(Row::id).with[0][2][1] = Op::over_##id##_n_not, \
    at(Row::id).with[1][2][0] = Op::over_##id##_v, at(Row::id).with[1][2][1] = Op::over_##id##_v_not, \
    at(Row::id).variable_number[0] = Op::id##_vn, at(Row::id).variable_number[1] = Op::id##_vn_not
#define BINARY(name, id, ...)                                                           \
    at(Row::id).alone = Op::id, TOLVA_FORMS(id), at(Row::id).on_copy[1] = Op::dup_##id, \
    at(Row::id).on_copy[2] = Op::over_##id;
#define BINARY2(name, id, ...) at(Row::id).alone = Op::id, TOLVA_FORMS(id);
#define UNARY(name, id, ...) \
    at(Row::id).alone = Op::id, at(Row::id).on_copy[1] = Op::dup_##id, at(Row::id).on_copy[2] = Op::over_##id;
#define SHUFFLE(name, id, ...) at(Row::id).alone = Op::id;
#define POP(name, id) at(Row::id).alone = Op::id;
#include "words/vocabulary.def"
#undef TOLVA_FORMS
    return ops;
}();

}  // namespace

const char* op_name(Op op) { return names[static_cast<std::size_t>(op)]; }

bool op_is_straight(Op op) { return straight[static_cast<std::size_t>(op)]; }

const RowOps& ops_of(Row row) { return table[static_cast<std::size_t>(row)]; }

}  // namespace forth
