#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <istream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/context.hpp"
#include "core/trap.hpp"
#include "engine/evaluate.hpp"

// The interpreter as a library: what a front end (the command line, the
// tests, a page in a browser) needs to run text against a Context and
// report how it went. Make a Context, load_builtins into it, point its
// streams (Context::out, err, in) where they should go, then evaluate texts
// one after another: each goes on with the state the last one left.
//
// Threads: Contexts share no state, so separate Contexts may run on
// separate threads at once. One Context must never be used by two threads
// at once; it may move from one thread to another between runs (a pool of
// threads), and request_interrupt may come from any thread. Lists and
// words belong to their Context: hand none to a Context on another thread.
// The standard streams are shared by every Context that prints there.
//
// A Context must not be destroyed while it runs, as by a word of its own or
// by a poll hook: its frames point into it. Debug builds abort there.
namespace forth {

// Where a text comes from, for the location of its errors.
struct Source {
    std::string_view name;       // a file's name, or a bracketed name for other text
    std::size_t first_line = 1;  // the line the text's first line is
};

// What evaluating came to.
struct Outcome {
    bool ok = true;
    // The error's one-line report as the command line prints it, without
    // its newline: "Domain error: unknown word - foo", "Interrupted". Empty
    // when ok.
    std::string report;
    // Where it happened; none for an error outside any source text, such as
    // a file that cannot be read.
    std::optional<ErrorLocation> location;
    // What the error means in plain words, and what to do about it
    // (engine/slips.hpp); empty when the report says all there is.
    std::string explanation;
    // Standard output or standard error could not be written
    // (core/streams.hpp): a front end says so and ends.
    bool write_failed = false;
};

// Evaluates `text`, whose lines are lines of `source`. Errors are thrown as
// by evaluate; on their way they note where they happened for
// catch_errors, and an error that leaves several sources (a file included
// by a line of another) keeps the innermost.
void evaluate_source(Context& ctx, const std::string& text, const Source& source);

// Evaluates `lines` one line at a time, as a program file runs: a lone
// backslash ends only its line, and the first error ends the run.
void evaluate_lines(Context& ctx, std::istream& lines, const Source& source);

// The report of an error: its category's prefix and its message, or
// "Interrupted".
std::string error_report(const std::exception& error);

// The failure of an error being handled, with its location when it left a
// source text.
Outcome failure(Context& ctx, const std::exception& error);

// Runs `action` (which evaluates through evaluate_source) and returns how
// it went. Nothing is undone after an error: what ran before it stays done,
// as in the interactive session. Exceptions not derived from std::exception
// pass through.
template <typename Action>
Outcome catch_errors(Context& ctx, Action&& action) {
    try {
        std::forward<Action>(action)();
        return {};
    } catch (const std::exception& error) {
        return failure(ctx, error);
    }
}

// evaluate_source under catch_errors: the one call most front ends need.
Outcome try_evaluate(Context& ctx, const std::string& text, const Source& source);

// Writes a failed outcome's report on the Context's error stream; then,
// when `explained`, its explanation indented on a line of its own; then,
// when `with_location` and the location is known, "  at SOURCE:LINE: TOKEN"
// on a line, and "  from SOURCE:LINE: TOKEN" for each call that led there;
// flushed. Writes nothing for a success.
void write_report(Context& ctx, const Outcome& outcome, bool with_location, bool explained = false);

// Writes `prefix`, then "SOURCE:LINE: " when the place is known, then the
// token, on a line; for a place that stands for calls left out,
// "... N more calls".
void write_place(std::ostream& out, std::string_view prefix, const Place& place);

// Asks the code running in `ctx` to stop at its next call or loop pass (or
// the end of a list that a construct collects), with the report
// "Interrupted"; what ran before stays done. Safe in a signal handler and
// from another thread, and for `ctx` alone. A request made while nothing runs is dropped when the
// next evaluation begins (evaluate_source, evaluate_lines, try_evaluate):
// it was meant for code that has ended.
inline void request_interrupt(Context& ctx) { request_interrupt(ctx.runtime); }

// Calls `hook` at every call and loop pass, and at the end of every list
// run while a construct collects, from now on (none: no longer), where an
// interrupt would be taken: a harness that bounds the work of what runs
// spends from its budget there, and ends the run by throwing.
void set_poll_hook(Context& ctx, std::function<void(Context&)> hook);

// How many tokens have been compiled: work that no call or pass counts,
// for such a harness.
std::size_t tokens_compiled(Context& ctx);

// Keeps where every token is read from now on, so that an error inside a
// word reports the token that failed and the calls that led there. Turn it
// on before defining anything: lists collected before it have no places.
void track_places(Context& ctx);

// Calls `trace` before each token runs, from now on (none: no longer);
// it may look at running_places and the stack. Places are tracked from
// then on. Every list then runs token by token, which does what its
// instructions would.
void set_trace(Context& ctx, std::function<void(Context&)> trace);

// The tokens running, innermost first, each with where it was read: the
// token running, then the one that called its word or quote, and so on.
// A call made again and again is one place with its count; past 24 places,
// one place stands for those left out (Place::left_out) before the
// outermost. It walks every call.
std::vector<Place> running_places(Context& ctx);

// The same from at most the `most` innermost calls, then a place for any
// left out and the outermost call: in time independent of the depth, for a
// trace or a recording that keeps every token's.
std::vector<Place> recent_places(Context& ctx, std::size_t most);

// The token running, where it was read, and how many calls deep it runs:
// what a trace shows of each token, in time independent of the depth.
struct RunningToken {
    Place place;
    std::size_t depth = 0;
};
RunningToken running_token(Context& ctx);

// The stack, bottom first.
inline std::span<const double> stack_values(const Context& ctx) { return {ctx.stack.begin(), ctx.stack.end()}; }

// The closing word that the open construct waits for (`]`, `}`, `)`, `*/`
// or `;`); empty when none is open.
inline std::string_view closing_word(const Context& ctx) { return ctx.terminator; }

// The opening token of the construct opened last, and where it was read,
// while places are tracked.
const Place& construct_opened(Context& ctx);

// Whether `token`, met now, is only collected into the open construct: any
// token but its closing word while one is open. A trace is called for such
// tokens too; they run later, if ever.
inline bool collects(const Context& ctx, std::string_view token) {
    return !ctx.terminator.empty() && token != ctx.terminator;
}

}  // namespace forth
