#pragma once

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "app/error_report.hpp"
#include "app/shell_words.hpp"
#include "core/interpreter.hpp"

namespace forth::testing {

// Points a standard stream at a string for the lifetime of the object.
class Redirect {
public:
    Redirect(std::ios& stream, std::string_view content = {})
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

// A source text, what it must print on standard output and standard error
// (the error reports), and the stack it must leave, written as .s writes it.
struct Case {
    std::string_view source;
    std::string_view output;
    std::string_view errors;
    std::string_view stack;
    std::string_view standard_input = {};
};

// Runs each line of the source in a fresh interpreter, reporting errors as
// the interactive loop does, and compares everything it did.
inline void check(const Case& expected) {
    SCOPED_TRACE(expected.source);
    Context ctx;
    load_builtins(ctx);
    add_shell_words(ctx);
    const Redirect in(std::cin, expected.standard_input);
    const Redirect out(std::cout);
    const Redirect err(std::cerr);
    std::istringstream lines{std::string(expected.source)};
    for (std::string line; std::getline(lines, line);) report_errors([&] { evaluate(ctx, line); });
    std::ostringstream stack;
    for (const double value : ctx.stack) stack << value << ' ';
    EXPECT_EQ(out.text(), expected.output);
    EXPECT_EQ(err.text(), expected.errors);
    EXPECT_EQ(stack.str(), expected.stack);
}

inline void check_all(std::initializer_list<Case> cases) {
    for (const Case& one : cases) check(one);
}

}  // namespace forth::testing
