#pragma once

#include <cstddef>
#include <string_view>

#include "core/context.hpp"

// Runs arbitrary source text in bounded time and memory, for the fuzzer and
// the tests that compare the evaluator's ways of running lists.
namespace forth::sandbox {

// Ends the current input: bye, or the budget used up. Not derived from
// std::exception, so catch_errors lets it through.
struct Stop {};

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
