// Every op declares what it does to the stack (engine/ops.def, and
// engine/forms.def for the ops of the rows). Each op that tokens spell
// alone is compiled from its spelling and run on stacks of every depth up
// to one past what it needs, by its instruction and token by token: the
// two must leave the same, the tokens must fail for want of values exactly
// below the declared need, and a run that succeeds must change the depth
// as declared; and on values at the edges of their domains, act as their
// tokens do.
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "core/user_word.hpp"
#include "engine/code.hpp"
#include "engine/evaluator.hpp"
#include "session.hpp"

namespace {

using forth::testing::Redirect;

// The tokens that make the op alone: its declared spelling, or those of
// its form around its row's word.
std::string spelling_of(forth::Op op) {
    const forth::OpInfo& made = forth::info(op);
    if (made.row == forth::Row::count) return made.spelling;
    const forth::FormInfo& form = forth::info(made.form);
    const forth::Builtin& row = forth::row(made.row);
    std::string text;
    if (form.copy == forth::Copy::tuck) text += "swap ";
    if (form.copy != forth::Copy::none) text += form.copy == forth::Copy::dup ? "dup " : "over ";
    if (form.operand == forth::Operand::variable || form.operand == forth::Operand::variable_number) text += "$a ";
    // (3, not 2: a division by a power of two compiles to a product.)
    if (form.operand == forth::Operand::number || form.operand == forth::Operand::variable_number)
        text += made.row == forth::Row::divide ? "3 " : "2 ";
    text += row.name;
    if (row.kind == forth::Kind::variable_sigil || row.kind == forth::Kind::fetch_sigil) text += 'a';
    if (form.negated) text += " not";
    if (forth::keeps_flag(form.branch)) text += " dup";
    if (form.branch != forth::Branch::none) text += forth::runs_on_true(form.branch) ? " [ ] iftrue" : " [ ] iffalse";
    return text;
}

// The row its effect names: a row's op's own, or the last word of its spelling.
const forth::Builtin* row_of(forth::Op op, const std::string& spelling) {
    if (forth::info(op).row != forth::Row::count) return &forth::row(forth::info(op).row);
    const std::string last = spelling.substr(spelling.rfind(' ') + 1);
    for (const forth::Builtin& row : forth::vocabulary()) {
        if (row.name == last) return &row;
    }
    return nullptr;
}

struct Ran {
    std::string stack, errors;
    std::size_t depth = 0;
    bool failed = false;
    std::vector<forth::Op> ops;  // of the compiled list
};

// Ordinary values, and values at the edges of the words' domains: zeros of
// both signs, NaN, the least 32-bit integer and -1 (their quotient does not
// fit), and a variable holding negative zero.
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
const std::vector<double> ordinary = {7, 3, 5, 9, 4, 6}, edges = {-0.0, 0, nan, -2147483648.0, -1, 0};

Ran run(const std::string& spelling, std::size_t depth, bool by_tokens, const std::vector<double>& values = ordinary) {
    forth::Context ctx;
    forth::load_builtins(ctx);
    forth::evaluator(ctx).eager = true;
    forth::evaluator(ctx).by_tokens = by_tokens;
    const Redirect out(std::cout), err(std::cerr);
    forth::evaluate(ctx, &values == &ordinary ? "3 =a" : "0 negate =a");
    for (const double value : values) {
        if (ctx.stack.size() < depth) ctx.stack.push_back(value);
    }
    forth::TokenList list;
    for (std::size_t start = 0; start < spelling.size();) {
        const std::size_t end = std::min(spelling.find(' ', start), spelling.size());
        list.push_back(std::string_view(spelling).substr(start, end - start));
        start = end + 1;
    }
    Ran ran;
    for (const forth::Instr& instr : forth::make_current(ctx, *list.node()).instrs) ran.ops.push_back(instr.op);
    try {
        forth::run(ctx, list);
    } catch (const std::exception& error) {
        ran.errors = error.what();
        ran.failed = true;
    }
    // To the last bit: a fused op must round as its tokens do.
    std::ostringstream bits;
    for (const double value : ctx.stack) bits << std::hexfloat << value << ' ';
    ran.stack = bits.str();
    ran.depth = ctx.stack.size();
    return ran;
}

// The op's instruction and its tokens, on the first 1, 2, ... of `values`,
// leave the same to the last bit, or fail alike.
void expect_alike(const std::string& spelling, const std::vector<double>& values) {
    SCOPED_TRACE(spelling);
    for (std::size_t depth = 1; depth <= values.size(); ++depth) {
        const Ran compiled = run(spelling, depth, false, values), tokens = run(spelling, depth, true, values);
        EXPECT_EQ(compiled.stack, tokens.stack);
        EXPECT_EQ(compiled.errors, tokens.errors);
    }
}

TEST(Ops, EachDoesWhatItDeclares) {
    int spelled = 0;
    for (std::size_t index = 0; index < static_cast<std::size_t>(forth::Op::count); ++index) {
        const auto op = static_cast<forth::Op>(index);
        const std::string spelling = spelling_of(op);
        if (spelling.empty()) continue;
        SCOPED_TRACE(std::string(forth::info(op).name) + ": " + spelling);
        ++spelled;
        const forth::Effect& effect = forth::info(op).effect;
        const forth::Reach reach = effect.known ? forth::reach_of(op, row_of(op, spelling)) : forth::Reach{};
        for (std::size_t depth = 0; depth <= static_cast<std::size_t>(reach.need) + 1; ++depth) {
            SCOPED_TRACE("depth " + std::to_string(depth));
            const Ran compiled = run(spelling, depth, false);
            const Ran tokens = run(spelling, depth, true);
            EXPECT_NE(std::find(compiled.ops.begin(), compiled.ops.end(), op), compiled.ops.end())
                << "the spelling does not make the op";
            EXPECT_EQ(compiled.stack, tokens.stack);
            EXPECT_EQ(compiled.errors, tokens.errors);
            if (!effect.known) continue;
            if (tokens.errors == "stack underflow" || tokens.errors.starts_with("Stack underflow in")) {
                EXPECT_LT(depth, static_cast<std::size_t>(reach.need)) << "needs fewer values than it declares";
            } else if (!tokens.failed) {
                EXPECT_GE(depth, static_cast<std::size_t>(reach.need)) << "needs more values than it declares";
                EXPECT_EQ(static_cast<long>(compiled.depth) - static_cast<long>(depth), reach.delta);
            }
        }
    }
    EXPECT_GT(spelled, 300);
}

// On values at the edges of their words' domains (the sign of a zero, NaN,
// a divisor of zero, a quotient too large), each op leaves what its tokens
// leave, or fails as they fail, having taken the same values.
TEST(Ops, EachActsAsItsTokensAtTheEdges) {
    for (std::size_t index = 0; index < static_cast<std::size_t>(forth::Op::count); ++index) {
        const std::string spelling = spelling_of(static_cast<forth::Op>(index));
        if (!spelling.empty()) expect_alike(spelling, edges);
    }
}

// A comparison that tests its flag at once runs its list, or goes on past
// it, as its tokens do: on NaN, on zeros of both signs, and on either
// side of the number or the variable it compares with.
TEST(Ops, AComparisonTestedAtOnceRunsItsListAsItsTokens) {
    int branches = 0;
    for (std::size_t index = 0; index < static_cast<std::size_t>(forth::Op::count); ++index) {
        const auto op = static_cast<forth::Op>(index);
        if (!forth::branches(op)) continue;
        ++branches;
        std::string spelling = spelling_of(op);
        spelling.replace(spelling.find("[ ]"), 3, "[ 7 dup ]");
        spelling += " 8";
        const std::vector<forth::Op> ops = run(spelling, 2, false).ops;
        EXPECT_NE(std::find(ops.begin(), ops.end(), op), ops.end()) << spelling;
        expect_alike(spelling, ordinary);
        expect_alike(spelling, edges);
    }
    EXPECT_EQ(branches, 84);
}

// A division by a number that is a power of two runs as a product by its
// reciprocal, which rounds alike to the last bit: on zeros, NaN,
// infinities, and results too small or too large, also by the largest
// power of two, whose reciprocal is subnormal; by zero and by the smallest
// subnormal, whose reciprocals would be infinite, it stays a division.
TEST(Ops, DivisionByAPowerOfTwoRoundsAsTheQuotient) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> values = {-0.0, nan, inf, -inf, 1e308, 4.9e-324, 2.2250738585072014e-308, -3, 7};
    for (const char* spelling : {"2 /", "0.5 /", "1024 /", "0.0009765625 /", "dup 4 /", "over 8 /",
                                 "8.98846567431158e307 /", "4.9e-324 /", "0 /", "3 /"})
        expect_alike(spelling, values);
}

// A list that defines a word compiles without running its conditionals'
// lists in place, since every run would compile it anew; a word whose name
// begins as a defining sigil does (`/mod` is the word, not the sigil `/`).
TEST(Ops, OnlyListsThatDefineKeepTheirConditionalsOutOfLine) {
    const auto in_place = [](const std::string& spelling) {
        const std::vector<forth::Op> ops = run(spelling, 3, false).ops;
        return std::find(ops.begin(), ops.end(), forth::Op::quote_iftrue_in_place) != ops.end();
    };
    EXPECT_TRUE(in_place("/mod [ 1 ] iftrue"));
    EXPECT_FALSE(in_place("[ 2 ] /two [ 1 ] iftrue"));
    EXPECT_FALSE(in_place("( two ) @deux [ 1 ] iftrue"));
}

}  // namespace
