#pragma once

#include <cstddef>
#include <streambuf>
#include <string_view>

#include "core/context.hpp"

// Runs arbitrary source text in bounded time and memory, for the language
// server's run of a document, the fuzzer and the tests that compare the
// evaluator's ways of running lists.
namespace forth::sandbox {

// Ends the current input: bye, or the budget used up (`spent`). Not derived
// from std::exception, so catch_errors lets it through.
struct Stop {
    bool spent = true;
};

// Discards everything written to it.
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

// Makes bye end the input instead of the process, and spaces write at most
// `most_blanks` (more add nothing but time; NaN stays NaN, so that its
// error is still reached).
void tame(Context& ctx, double most_blanks);

// Bounds what runs in `ctx` from now on: every call and loop pass spends
// one unit of `budget`, and a unit allows 100 tokens compiled; the poll
// that finds either spent throws Stop. Ended by run_lines, or by unlimit.
void limit_steps(Context& ctx, std::size_t budget);
void unlimit(Context& ctx);

// Makes `ctx` safe to run any input in: bye stops the input, included opens
// no file, spaces writes at most a screenful, listings and long aliases
// spend from the budget, every call and loop pass spends one unit of
// `budget` (and more when the stack or buffer is large), a unit allows
// `compiled_per_unit` tokens compiled, and a buffer of more than 4096
// tokens ends the input. A compile costs more than its tokens (a code is
// made anew), so a harness that must stay quick allows few; one that
// compares the ways of running lists, where only one compiles, many.
void confine(Context& ctx, std::size_t budget, std::size_t compiled_per_unit = 100);

// Evaluates `source` line by line, each line reported as the interactive
// loop reports it, with its location, until the end (true) or a Stop (false).
bool run_lines(Context& ctx, std::string_view source);

}  // namespace forth::sandbox
