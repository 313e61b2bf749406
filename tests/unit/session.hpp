#pragma once

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "app/shell_words.hpp"
#include "engine/embed.hpp"
#include "engine/evaluator.hpp"
#include "app/sandbox.hpp"

namespace forth::testing {

// Points a standard stream at a string for the lifetime of the object.
class Redirect {
public:
    explicit Redirect(std::ios& stream, std::string_view content = {})
        : buffer_(std::string(content)), stream_(stream), saved_(stream.rdbuf(buffer_.rdbuf())) {}
    ~Redirect() {
        stream_.rdbuf(saved_);
        stream_.clear();
    }
    std::string text() const { return buffer_.str(); }

private:
    std::stringstream buffer_;
    std::ios& stream_;
    std::streambuf* saved_;
};

// Source lines, what they must write to standard output and (as error
// reports) to standard error, and the stack they leave, as .s shows it.
struct Case {
    std::string_view source, output, errors, stack, standard_input = {};
};

// Polls a case may make: the deepest recursion a case tries takes a
// million calls, a loop a million passes with four polls each, and a fault
// that loops without end fails in well under a second instead of running on.
constexpr std::size_t step_budget = 8'000'000;

// Runs the lines in a fresh interpreter the way the interactive loop does,
// as lists are run by default (compiled at their second run) and with
// every list compiled at its first. After every line, finished or failed,
// no call may be left counted or running.
inline void check_all(std::initializer_list<Case> cases) {
    for (const Case& expected : cases) {
      for (const bool eager : {false, true}) {
        SCOPED_TRACE(expected.source);
        SCOPED_TRACE(eager ? "compiled at first" : "compiled at second");
        Context ctx;
        load_builtins(ctx);
        add_shell_words(ctx);
        forth::evaluator(ctx).eager = eager;
        const Redirect in(std::cin, expected.standard_input), out(std::cout), err(std::cerr);
        std::istringstream lines{std::string(expected.source)};
        sandbox::limit_steps(ctx, step_budget);
        try {
            for (std::string line; std::getline(lines, line);) {
                write_report(ctx, try_evaluate(ctx, line, {"<input>"}), false);
                EXPECT_TRUE(forth::evaluator(ctx).frames.empty()) << "after " << line;
            }
        } catch (const sandbox::Stop&) {
            ADD_FAILURE() << "ran out of its budget of steps";
        }
        sandbox::unlimit(ctx);
        std::ostringstream stack;
        for (const double value : ctx.stack) stack << value << ' ';
        EXPECT_EQ(out.text(), expected.output);
        EXPECT_EQ(err.text(), expected.errors);
        EXPECT_EQ(stack.str(), expected.stack);
      }
    }
}

}  // namespace forth::testing
