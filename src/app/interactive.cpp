#include "app/interactive.hpp"

#include <ostream>
#include <string_view>

#include "app/error_report.hpp"
#include "app/reference.hpp"
#include "app/shell_words.hpp"
#include "app/terminal_session.hpp"
#include "app/texts.hpp"
#include "core/line_input.hpp"
#include "core/streams.hpp"
#include "core/tables.hpp"
#include "core/trap.hpp"
#include "engine/embed.hpp"
#include "words/vocabulary.hpp"

namespace forth {

namespace {

const char* prompt(const Context& ctx) { return ctx.terminator.empty() ? "? " : "... "; }

// The lines typed at the prompt, counted from 1, for the location of errors.
constexpr std::string_view typed_lines = "<input>";

// For a person at a terminal, ?name of a built-in adds its effect from the
// manual after "(native code)".
void show_definition_with_effect(Context& ctx, const std::string& name) {
    const Word* const word = find_word(ctx, name);
    const Builtin* const builtin = word != nullptr ? row_of(*word) : nullptr;
    if (builtin == nullptr) {
        row(Row::show_definition).sigil(ctx, name);
        return;
    }
    const std::string effect = effect_of(describe(builtin->name, false));
    *ctx.out << "(native code)" << (effect.empty() ? "" : "  ") << effect << '\n' << std::flush;
    check_output(ctx);
}

// `help` alone on a line shows how to learn more, to a person at a
// terminal, unless a word of that name is defined.
bool helped(Context& ctx, std::string_view line) {
    const auto first = line.find_first_not_of(" \t");
    if (!showing_help() || first == std::string_view::npos) return false;
    line = line.substr(first, line.find_last_not_of(" \t") + 1 - first);
    if (line != "help" || ctx.words.contains("help") || ctx.aliases.contains("help")) return false;
    for (const std::string_view text : help_lines) *ctx.out << text << '\n';
    return true;
}

// A failed line's values stay on the stack, where they can hide the next
// line's mistake: a person at a terminal is told what is left.
void say_what_is_left(Context& ctx) {
    const std::span<const double> stack = stack_values(ctx);
    if (!explaining() || stack.empty()) return;
    std::ostream& err = *ctx.err;
    err << "  the stack still holds " << stack.size() << (stack.size() == 1 ? " value:" : " values:");
    write_top_values(err, stack);
    err << "; clear empties it" << std::endl;
}

// Runs a typed line: true when it ran without error.
bool run_typed(Context& ctx, const std::string& line, std::size_t number) {
    if (helped(ctx, line)) return false;
    if (report_outcome(ctx, try_evaluate(ctx, line, {typed_lines, number}))) return true;
    say_what_is_left(ctx);
    return false;
}

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
        if (run_typed(ctx, line, number)) out << "ok\n";
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
        if (run_typed(ctx, line, ++number)) *ctx.out << "ok\n";
        if (streams_lost(ctx)) return;
        // A Ctrl-C that came too late to stop this line must not cancel the
        // reading of the next.
        drop_interrupt(ctx.runtime);
    }
}

}  // namespace

void interactive_loop(Context& ctx) {
    if (showing_help()) ctx.sigils['?'] = show_definition_with_effect;
    write_banner(*ctx.out, ctx);
    if (showing_help()) *ctx.out << help_hint << std::endl;
    if (streams_lost(ctx)) return;
    if (const auto terminal = open_terminal_session(ctx)) {
        terminal_loop(ctx, *terminal);
    } else {
        plain_loop(ctx);
    }
}

}  // namespace forth
