#include "words/vocabulary.hpp"

#include <algorithm>
#include <array>

#include "words/builtins.hpp"
#include "words/operations.hpp"

namespace forth {

namespace {

// The names a shuffle's outputs use for its inputs, the deepest first.
enum Input : int { a, b, c };

// The plain functions of the rows that compute on the stack, from their
// bodies: operands taken one by one, the top first, as pop takes them.
namespace plain {

using namespace operation;

template <std::size_t in, std::size_t out>
void shuffle(Context& ctx, const std::array<int, out>& outputs, const char* message) {
    if (ctx.stack.size() < in) underflow(message);
    std::array<double, in> inputs;
    std::copy(ctx.stack.end() - in, ctx.stack.end(), inputs.begin());
    for (std::size_t taken = 0; taken < in; ++taken) ctx.stack.pop_back();
    for (const int input : outputs) ctx.stack.push_back(inputs[static_cast<std::size_t>(input)]);
}

// Which comes first, the variable or the value: what an underflow leaves
// behind (=name makes its variable before it takes the value, +name and
// -name take the value first).
enum class Order { creates, takes };

template <Order order, typename Result>
void change_variable(Context& ctx, const std::string& name, Result result) {
    if constexpr (order == Order::creates) {
        double& v = ctx.variables[name];
        const double x = pop(ctx);
        v = result(x, v);
    } else {
        const double x = pop(ctx);
        double& v = ctx.variables[name];
        v = result(x, v);
    }
}

void fetch_variable(Context& ctx, const std::string& name) {
    const auto variable = ctx.variables.find(name);
    // The message of the table's own at() for a missing name.
    if (variable == ctx.variables.end()) throw std::out_of_range("_Map_base::at");
    push(ctx, variable->second);
}

#define TOLVA_LIST(...) \
    { __VA_ARGS__ }
#define BINARY(name, id, result, domain)              \
    void id(Context& ctx) {                           \
        const double y = pop(ctx);                    \
        const double x = pop(ctx);                    \
        if (!domain::holds(x, y)) domain::fail(x, y); \
        push(ctx, result);                            \
    }
#define BINARY2(name, id, first, second, domain)      \
    void id(Context& ctx) {                           \
        const double y = pop(ctx);                    \
        const double x = pop(ctx);                    \
        if (!domain::holds(x, y)) domain::fail(x, y); \
        push(ctx, first);                             \
        push(ctx, second);                            \
    }
#define UNARY(name, id, result)    \
    void id(Context& ctx) {        \
        const double x = pop(ctx); \
        push(ctx, result);         \
    }
#define SHUFFLE(name, id, in, outputs)                                        \
    void id(Context& ctx) {                                                   \
        static constexpr auto order = std::to_array<int>(TOLVA_LIST outputs); \
        shuffle<in>(ctx, order, "Stack underflow in " name);                  \
    }
#define POP(name, id) \
    void id(Context& ctx) { pop(ctx); }
#define VARIABLE(spelled, id, order, result)                                                         \
    void id(Context& ctx, const std::string& name) {                                                 \
        change_variable<Order::order>(ctx, name, [](double x, [[maybe_unused]] double v) { return result; }); \
    }
#define FETCH(spelled, id) \
    void id(Context& ctx, const std::string& name) { fetch_variable(ctx, name); }
#include "words/vocabulary.def"
#undef TOLVA_LIST

}  // namespace plain

}  // namespace

using namespace builtin;

#define TOLVA_LIST(...) \
    { __VA_ARGS__ }
constexpr Builtin builtin_rows[] = {
#define BINARY(spelled, id, ...) {.name = spelled, .kind = Kind::binary, .in = 2, .out = 1, .word = plain::id},
#define BINARY2(spelled, id, ...) {.name = spelled, .kind = Kind::binary2, .in = 2, .out = 2, .word = plain::id},
#define UNARY(spelled, id, ...) {.name = spelled, .kind = Kind::unary, .in = 1, .out = 1, .word = plain::id},
#define SHUFFLE(spelled, id, in_, outputs)                 \
    {.name = spelled,                                      \
     .kind = Kind::shuffle,                                \
     .in = in_,                                            \
     .out = std::to_array<int>(TOLVA_LIST outputs).size(), \
     .word = plain::id},
#define POP(spelled, id) {.name = spelled, .kind = Kind::pop, .in = 1, .out = 0, .word = plain::id},
#define EFFECT(spelled, id, in_, out_, function) \
    {.name = spelled, .kind = Kind::effect, .in = in_, .out = out_, .word = function},
#define OPENER(spelled, id, function, construct_, closer_) \
    {.name = spelled, .kind = Kind::opener, .word = function, .construct = Construct::construct_, .closer = closer_},
#define CHANGE(spelled, id, function) {.name = spelled, .kind = Kind::change, .word = function},
#define CONTROL(spelled, id, in_, function) {.name = spelled, .kind = Kind::control, .in = in_, .enter = function},
#define VARIABLE(spelled, id, ...) {.name = spelled, .kind = Kind::variable_sigil, .in = 1, .sigil = plain::id},
#define FETCH(spelled, id) {.name = spelled, .kind = Kind::fetch_sigil, .out = 1, .sigil = plain::id},
#define SIGIL(spelled, id, function) {.name = spelled, .kind = Kind::other_sigil, .sigil = function},
#define OPENER_SIGIL(spelled, id, function, construct_, closer_) \
    {.name = spelled,                                            \
     .kind = Kind::opener_sigil,                                 \
     .sigil = function,                                          \
     .construct = Construct::construct_,                         \
     .closer = closer_},
#define ALIAS(spelled, id, replacement) {.name = spelled, .kind = Kind::alias, .alias = replacement},
#include "words/vocabulary.def"
};
#undef TOLVA_LIST

bool is_closer(std::string_view name) {
    // Not std::ranges: the WebAssembly build's library has no algorithms there.
    const std::span<const Builtin> rows = vocabulary();
    return std::any_of(rows.begin(), rows.end(), [name](const Builtin& row) { return !row.closer.empty() && row.closer == name; });
}

}  // namespace forth
