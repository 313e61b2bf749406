#include "app/interactive.hpp"

#include <ostream>
#include <string_view>

#include "app/error_report.hpp"
#include "app/shell_words.hpp"
#include "app/terminal_session.hpp"
#include "engine/embed.hpp"
#include "core/trap.hpp"
#include "core/line_input.hpp"

namespace forth {

namespace {

const char* prompt(const Context& ctx) { return ctx.terminator.empty() ? "? " : "... "; }

// The lines typed at the prompt, counted from 1, for the location of errors.
constexpr std::string_view typed_lines = "<input>";

// "ok" and the prompts are not flushed here: standard input is tied to
// standard output, so they appear before the next line is read. The first
// prompt is "? " even when an included file left a construct open.
// A write that failed ends the session: one that running a line found, or
// one of "ok" or a prompt, which reading the next line flushed.
void plain_loop(Context& ctx) {
    std::ostream& out = *ctx.out;
    out << "? ";
    std::string line;
    for (std::size_t number = 1; read_line(ctx, line) && !streams_lost(ctx); ++number) {
        if (report_outcome(ctx, try_evaluate(ctx, line, {typed_lines, number}))) out << "ok\n";
        if (streams_lost(ctx)) return;
        out << prompt(ctx);
    }
}

void terminal_loop(Context& ctx, TerminalSession& terminal) {
    std::string line;
    std::size_t number = 0;
    for (const char* next = "? ";; next = prompt(ctx)) {
        const TerminalSession::Read read = terminal.read_code(next, line);
        if (read == TerminalSession::Read::ended) return;
        if (read == TerminalSession::Read::cancelled) continue;
        if (report_outcome(ctx, try_evaluate(ctx, line, {typed_lines, ++number}))) *ctx.out << "ok\n";
        if (streams_lost(ctx)) return;
        // A Ctrl-C that came too late to stop this line must not cancel the
        // reading of the next.
        drop_interrupt(ctx.runtime);
    }
}

}  // namespace

void interactive_loop(Context& ctx) {
    write_banner(*ctx.out, ctx);
    if (streams_lost(ctx)) return;
    if (const auto terminal = open_terminal_session(ctx)) {
        terminal_loop(ctx, *terminal);
    } else {
        plain_loop(ctx);
    }
}

}  // namespace forth
