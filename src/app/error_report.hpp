#pragma once

#include <ostream>
#include <span>
#include <string_view>

#include "engine/embed.hpp"

namespace forth {

// The process's exit statuses.
inline constexpr int status_ok = 0;
inline constexpr int status_missing_argument = 1;
inline constexpr int status_failed = 2;

// How much the command line says beyond the language's own reports, chosen
// once before anything runs. Places (where errors and slips happened, with
// the slips' warnings): when TOLVA_WHERE is set and neither empty nor 0, or
// when it is unset in an interactive session that a person is at, standard
// input and standard error being terminals. Explanations of errors: in an
// interactive session a person is at, unless TOLVA_WHERE is 0. What is
// added to standard output (the banner's line on `help`, `help` itself,
// the effects of built-ins in ?word): when it is a terminal too. Pipes,
// files and scripts get none of it unless asked.
void choose_voice(bool interactive);
bool places_wanted();
bool explaining();
bool showing_help();

// Writes the report of a failed outcome on the Context's error stream (see
// write_report), explained and with where the error happened as chosen
// above. True for a success.
bool report_outcome(Context& ctx, const Outcome& outcome);

// Whether standard output or standard error can no longer be written, so
// that the session must end.
bool streams_lost(const Context& ctx);

// The status to exit with, the profile written (app/profile_report.hpp):
// `status`, unless standard output (flushed here) or standard error could
// not be written; then status_failed, having said so on standard error,
// once, while it can be written.
int exit_status(Context& ctx, int status);

// When places are wanted and a construct is still open after `source`
// ran, says so on the error stream: which construct, and where it opened.
void warn_if_left_open(Context& ctx, std::string_view source);

// When places are wanted, or a person is at standard input and standard
// error, a program file that could not be opened is named on standard error
// with the reason; otherwise its failure stays silent, as scripts expect.
void report_unopened(Context& ctx, const std::string& name);

// Writes the top eight of `stack`'s values, bottom first, each after a
// blank, with " ..." before them when there are more.
void write_top_values(std::ostream& out, std::span<const double> stack);

// With TOLVA_TRACE set and not empty, writes each token on the error stream
// before it runs: indented by the calls it runs inside, where it was read,
// and the top of the stack as it finds it.
void trace_if_wanted(Context& ctx);

}  // namespace forth
