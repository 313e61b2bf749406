// Random programs run twice: through compiled token lists, and with every
// token resolved anew. Whatever the caches do, the two must agree on what
// is printed, what is reported, what is left on the stack and whether the
// input ran to its end.

#include <random>
#include <sstream>
#include <string>
#include <vector>

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
    "dup 2 < not", "dup 1-", "$a 3 <", "dup $a < not", "5 =a", "1 +a", "( < ) @lt", "2 lt", ":< drop 0 ;", "( not ) @n",
    // words that call words without needing frames, laid out in line
    ":i 1+ ;", ":j i 2 i ;", ":k j j ;", "i", "j", "k", "[ k ] 3 times",
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
        switch (choice) {
            case 6: return "[ " + sequence(depth + 1) + "] " + after_list[pick(0, 8)];
            case 7: return "{ " + sequence(depth + 1) + "} " + after_list[pick(0, 8)];
            case 8: return std::string(pick(0, 1) ? ":w " : ":v ") + sequence(depth + 1) + ";";
            default: return "( " + sequence(depth + 1) + ") " + (pick(0, 1) ? "@t" : "..");
        }
    }

    std::mt19937 random_;
};

struct Outcome {
    std::string output, errors, stack, state;
    bool completed;
};

Outcome run(const std::string& program, bool plain) {
    forth::Context ctx;
    forth::load_builtins(ctx);
    forth::add_shell_words(ctx);
    ctx.runtime.plain = plain;
    const Redirect in(std::cin), out(std::cout), err(std::cerr);
    forth::sandbox::confine(ctx, 3'000);
    const bool completed = forth::sandbox::run_lines(ctx, program);
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
    for (int index = 0; index < 3000; ++index) {
        const std::string program = generator.program();
        SCOPED_TRACE(program);
        const Outcome fast = run(program, false);
        const Outcome plain = run(program, true);
        ASSERT_EQ(fast.output, plain.output);
        ASSERT_EQ(fast.errors, plain.errors);
        ASSERT_EQ(fast.stack, plain.stack);
        ASSERT_EQ(fast.state, plain.state);
        ASSERT_EQ(fast.completed, plain.completed);
    }
}

}  // namespace
