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
#include "words/vocabulary.def"
#undef TOLVA_LIST

}  // namespace plain

using namespace builtin;

#define TOLVA_LIST(...) \
    { __VA_ARGS__ }
}  // namespace

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
#define CONTROL(spelled, id, function) {.name = spelled, .kind = Kind::control, .enter = function},
#define SIGIL(spelled, id, kind_, function) {.name = spelled, .kind = Kind::kind_##_sigil, .sigil = function},
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

}  // namespace forth
