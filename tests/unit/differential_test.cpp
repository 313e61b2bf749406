// Random programs run twice: through compiled token lists, and with every
// token resolved anew. Whatever the caches do, the two must agree on what
// is printed, what is reported, what is left on the stack and whether the
// input ran to its end.

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/code.hpp"
#include "core/user_word.hpp"
#include "core/vocabulary.hpp"
#include "sandbox.hpp"
#include "session.hpp"

namespace {

using forth::testing::Redirect;

// Tokens that make the caches' life hard: words that get redefined, closing
// words, aliases, variables, nested constructs and the loops that run them.
const std::vector<std::string> plain_tokens = {
    "0", "1", "2", "3", "7", "2.5", "0x10", "nan", "1e400", "-1", "+1",
    "+", "-", "*", "/", "mod", "/mod", "dup", "drop", "swap", "over", "rot", "-rot", "2dup",
    "<", ">", "<=", "=", "<>", "not", "and", "or", "negate", "abs", "min", "max", "1+", "1-",
    ".", ".s", "depth", "..", "clear", ".buffer",
    "=a", "$a", "+a", "-a", "=b", "$b", "$i", "=i", "$", 
    "execute", "times", "iftrue", "iffalse", "while", "until", "repeat", "interpret",
    "w", "v", "u", "foo", "true", "false", "t", "'w", "'dup", "'v", "?w", "?dup", "/v", "/w",
    "@t", "@w", "@dup", "@]", "[", "]", "{", "}", "(", ")", ";", ":w", ":v", ":u", ":]", ":;", ":dup", "/*", "*/",
    // runs of tokens that the evaluator may take as one step
    "dup 2 < not", "dup 1-", "$a 3 <", "$a 3 < not", "dup $a <", "dup $a < not", "dup 2 *", "2 < not", "$a *",
    "$a = not", "5 =a", "1 +a", "2 -a", "/* 1 */", "( < ) @lt", "2 lt", ":< drop 0 ;", "( not ) @n",
    "dup 2 /mod not", "$a 3 /mod not", "dup $a /mod", "2 /mod",
    "over 2 < not", "over $a <", "over $a < not", "over 1-", "over *", "over not", "over 3 /mod",
    // words that call words without needing frames, laid out in line
    ":i 1+ ;", ":j i 2 i ;", ":k j j ;", "i", "j", "k", "[ k ] 3 times",
    // the same, whole, so that every kind of step is made however the tokens fall
    "[ :i 1+ ; :j i 2 i ; :k j j ; 0 k ] execute", "[ 1 =a $a = not 2 dup $a + dup $a < not ] execute",
    "[ 0 =a 3 +a 1 -a $a 2 < $a 2 < not 5 * 5 < not dup 2 * dup 2 < not dup 1- dup not $a - ] execute",
    // a quote that does nothing but call a word that needs a frame
    ":r 0 { } iftrue ;", "{ r } iffalse", "[ :r 0 { } iftrue ; :q 0 { r } iffalse ; q ] execute",
    // the if-else idiom: dup taken in by the quote after it
    "[ :y dup { drop 0 } iftrue { 7 } iffalse dup { r } iffalse ; 1 y ] execute",
};

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {}

    std::string program() {
        std::string text;
        const int lines = pick(1, 6);
        for (int line = 0; line < lines; ++line) {
            text += sequence(0);
            text += '\n';
        }
        return text;
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

    std::string sequence(int depth) {
        std::string text;
        const int length = pick(1, 8);
        for (int item = 0; item < length; ++item) text += element(depth) + ' ';
        return text;
    }

    // Mostly single tokens; sometimes a whole construct, often followed by
    // the word that runs or names it.
    std::string element(int depth) {
        const int choice = pick(0, 9);
        if (depth > 2 || choice < 6) return plain_tokens[pick(0, static_cast<int>(plain_tokens.size()) - 1)];
        static const char* const after_list[] = {"iftrue", "iffalse", "execute", "3 times", "2 times", "while", "repeat", "/w", "/v"};
        // One draw at a time: the order in which operands of + are evaluated
        // differs between compilers, and the programs must not.
        const std::string inner = sequence(depth + 1);
        const int after = pick(0, 8);
        switch (choice) {
            case 6: return "[ " + inner + "] " + after_list[after];
            case 7: return "{ " + inner + "} " + after_list[after];
            case 8: return (after % 2 ? ":w " : ":v ") + inner + ";";
            default: return "( " + inner + ") " + (after % 2 ? "@t" : "..");
        }
    }

    std::mt19937 random_;
};

// Every kind of step the compiler makes, by op in the order of forth::Op
// (a whole construct by what it makes), and every run of tokens it makes
// one step of (N a number, V a variable, W a word that takes an operand).
// The generator must produce each, or the comparison proves nothing about it.
const char* const op_names[] = {
    "number", "fetch", "change variable", "built-in", "construct", "first use of a variable", "enter call",
    "quote run in place", "call in line", "native", "control", "quote then control", "call", "callable", "sigil", "define", "fail",
};
static_assert(std::size(op_names) == static_cast<std::size_t>(forth::Op::fail) + 1);
const std::set<std::string> other_kinds = {
    "quote", "text", "comment", "call laid out in line", "quote that only calls",
    "call of one step", "dup quote then control", "dup quote run in place",
    "N =V", "N +V", "N -V", "N W", "N W not", "V W", "V W not", "dup N W", "dup N W not",
    "dup V W", "dup V W not", "V N W", "V N W not", "dup W", "dup not",
    "over N W", "over N W not", "over V W", "over V W not", "over W", "over not",
};

std::string kind_of(const forth::Step& step) {
    if (step.op != forth::Op::construct) return op_names[static_cast<int>(step.op)];
    static const char* const constructs[] = {"", "quote", "text", "comment", ""};
    return constructs[static_cast<int>(step.row->construct)];
}

// What a token in a run of several is, with today's tables.
std::string shape_of(const forth::Context& ctx, std::string token) {
    if (const auto alias = ctx.aliases.find(token); alias != ctx.aliases.end()) token = alias->second;
    if (token == "dup" || token == "over" || token == "not") return token;
    if (ctx.words.contains(token)) return "W";
    if (token[0] == '$') return "V";
    if (token[0] == '=' || token[0] == '+' || token[0] == '-') return token[0] + std::string("V");
    return forth::leading_number(token).found ? "N" : "W";
}

// Records the kinds of the steps compiled in `node` and in the lists and
// bodies they hold. A body is known to be alive, and the tokens of a run
// mean what today's tables say, only while the step is current.
void record_kinds(const forth::Context& ctx, forth::ListNode* node, std::set<std::string>& seen,
                  std::set<const forth::ListNode*>& visited) {
    if (node == nullptr || node->code == nullptr || !visited.insert(node).second) return;
    const auto record = [&](const forth::Step& step, bool current) {
        seen.insert(kind_of(step));
        if (step.flat() != nullptr) seen.insert("call laid out in line");
        if (const forth::ListNode* quote = step.list().node(); step.op == forth::Op::quote_then && quote->size() == 1 &&
                                                               quote->code && quote->code->steps[0].op == forth::Op::call_user) {
            seen.insert("quote that only calls");
        }
        record_kinds(ctx, step.list().node(), seen, visited);
        if (current && (step.op == forth::Op::call_user || step.op == forth::Op::call_leaf)) {
            record_kinds(ctx, step.body, seen, visited);
        }
        if (current && step.op == forth::Op::call_leaf && step.body != nullptr &&
            step.body->code->steps[0].next == step.body->size() && step.body->code->steps[0].op < forth::Op::enter_call) {
            seen.insert("call of one step");
        }
    };
    const std::vector<forth::Step>& steps = node->code->steps;
    for (std::uint32_t index = 0; index < steps.size(); ++index) {
        const forth::Step& step = steps[index];
        if (step.generation == 0) continue;  // never looked up
        const bool current = step.generation == ctx.runtime.generation;
        record(step, current);
        // A construct's tokens are collected, not looked up: its op says all.
        using forth::Op;
        const bool run_starts = step.op == Op::push_number || step.op == Op::fetch_variable || step.op == Op::straight;
        if (current && (step.op == Op::quote_then || step.op == Op::quote_leaf) &&
            shape_of(ctx, std::string(node->token(index))) == "dup") {
            seen.insert("dup " + kind_of(step));
        }
        if (current && run_starts && step.next > index + 1) {
            std::string run = shape_of(ctx, std::string(node->token(index)));
            for (auto position = index + 1; position < step.next; ++position) run += ' ' + shape_of(ctx, std::string(node->token(position)));
            seen.insert(run);
        }
        if (step.flat() != nullptr) {
            for (const forth::Step& inner : step.flat()->steps) record(inner, current);
        }
    }
}

void record_kinds(const forth::Context& ctx, std::set<std::string>& seen) {
    std::set<const forth::ListNode*> visited;
    for (const auto& [name, word] : ctx.words) {
        if (const auto* user_word = word.target<forth::UserWord>()) record_kinds(ctx, user_word->body.node(), seen, visited);
    }
    for (const auto* list : {&ctx.quotation, &ctx.buffer, &ctx.loop_body}) record_kinds(ctx, list->node(), seen, visited);
}

struct Outcome {
    std::string output, errors, stack, state;
    bool completed;
};

Outcome run(const std::string& program, bool plain, std::set<std::string>* kinds = nullptr) {
    forth::Context ctx;
    forth::load_builtins(ctx);
    forth::add_shell_words(ctx);
    ctx.runtime.plain = plain;
    const Redirect in(std::cin), out(std::cout), err(std::cerr);
    forth::sandbox::confine(ctx, 3'000);
    const bool completed = forth::sandbox::run_lines(ctx, program);
    if (kinds != nullptr) record_kinds(ctx, *kinds);
    std::ostringstream stack, state;
    for (const double value : ctx.stack) stack << value << ' ';
    state << '[' << ctx.terminator << "] " << ctx.text << " |";
    for (const auto& token : ctx.quotation) state << ' ' << token;
    state << " |";
    for (const auto& token : ctx.buffer) state << ' ' << token;
    return {out.text(), err.text(), stack.str(), state.str(), completed};
}

// Programs that use up the budget in the middle of the steps the evaluator
// runs as one, so that both ways must poll at exactly the same calls.
TEST(Differential, BudgetRunsOutAtTheSameCall) {
    for (const char* program : {
             ":i 1+ ; :j i i ; :k j j ; 0 [ k ] 1000 times",
             ":i 1+ ; :j i 2 i drop ; 0 [ j ] 2000 times",
             ":f dup 2 < not { dup 1- f swap 2 - f + } iftrue ; 25 f",
             "0 =a { 1 +a } while { $a 5000 < } repeat",
             ":e ; [ e e e ] 2000 times",
             ":g 1- dup 0 > { g } iftrue ; 100000 g",
         }) {
        SCOPED_TRACE(program);
        const Outcome fast = run(program, false);
        const Outcome plain = run(program, true);
        EXPECT_FALSE(fast.completed);
        EXPECT_EQ(fast.stack, plain.stack);
        EXPECT_EQ(fast.state, plain.state);
        EXPECT_EQ(fast.completed, plain.completed);
    }
}

TEST(Differential, CompiledListsBehaveAsTokensResolvedAnew) {
    Generator generator(20261206);
    std::set<std::string> kinds;
    for (int index = 0; index < 3000; ++index) {
        const std::string program = generator.program();
        SCOPED_TRACE(program);
        const Outcome fast = run(program, false, &kinds);
        const Outcome plain = run(program, true);
        ASSERT_EQ(fast.output, plain.output);
        ASSERT_EQ(fast.errors, plain.errors);
        ASSERT_EQ(fast.stack, plain.stack);
        ASSERT_EQ(fast.state, plain.state);
        ASSERT_EQ(fast.completed, plain.completed);
    }
    std::set<std::string> expected(std::begin(op_names), std::end(op_names));
    expected.insert(other_kinds.begin(), other_kinds.end());
    expected.erase("construct");
    std::vector<std::string> differ;
    std::ranges::set_symmetric_difference(kinds, expected, std::back_inserter(differ));
    EXPECT_EQ(differ, std::vector<std::string>{}) << "kinds never made, or made but missing from the table";
}

}  // namespace
