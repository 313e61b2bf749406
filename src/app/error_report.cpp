#include "app/error_report.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <ostream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/profile_report.hpp"
#include "core/streams.hpp"

namespace forth {

namespace {

struct Voice {
    bool places = false;
    bool explains = false;
    bool shows = false;   // explains, and standard output is a terminal too
    bool person = false;  // standard input and standard error are terminals
};
Voice voice;

// The first failed write seen, as it is reported, with the reason it left
// while that was still to be read; and whether a report said so.
std::string write_lost;
bool write_loss_said = false;

}  // namespace

void choose_voice(bool interactive) {
    const char* const where = std::getenv("TOLVA_WHERE");
    const bool unset = where == nullptr;
    const bool off = !unset && std::string_view(where) == "0";
    voice.person = !off && isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0;
    voice.places = (!unset && !off && *where != '\0') || (unset && voice.person && interactive);
    voice.explains = voice.person && interactive;
    voice.shows = voice.explains && isatty(STDOUT_FILENO) != 0;
}

bool places_wanted() { return voice.places; }

bool explaining() { return voice.explains; }

bool showing_help() { return voice.shows; }

bool report_outcome(Context& ctx, const Outcome& outcome) {
    write_report(ctx, outcome, voice.places, voice.explains);
    if (outcome.write_failed) write_loss_said = true;
    return outcome.ok;
}

bool streams_lost(const Context& ctx) {
    if (!ctx.out->fail() && !ctx.err->fail()) return false;
    if (write_lost.empty()) write_lost = write_failure(ctx.out->fail() ? "standard output" : "standard error");
    return true;
}

int exit_status(Context& ctx, int status) {
    ctx.out->flush();
    status = finish_profile(ctx, status);
    if (!streams_lost(ctx)) return status;
    if (!write_loss_said && !ctx.err->fail()) {
        *ctx.err << "Error: " << write_lost << std::endl;
        write_loss_said = true;
    }
    return status_failed;
}

void report_unopened(Context& ctx, const std::string& name) {
    if (!voice.places && !voice.person) return;
    errno = 0;
    if (std::ifstream(name).is_open()) return;  // it opened: its error was reported
    *ctx.err << "Error: can't open " << name << ": " << std::strerror(errno) << std::endl;
}

void warn_if_left_open(Context& ctx, std::string_view source) {
    const std::string_view closing = closing_word(ctx);
    if (closing.empty() || !voice.places) return;
    const Place& opened = construct_opened(ctx);
    std::ostream& err = *ctx.err;
    err << "Warning: " << source << " ends inside " << opened.token;
    if (!opened.source.empty()) err << ", opened at " << opened.source << ':' << opened.line;
    err << ", still waiting for " << closing << std::endl;
}

}  // namespace forth

namespace forth {

void write_top_values(std::ostream& out, std::span<const double> stack) {
    constexpr std::size_t shown = 8;
    if (stack.size() > shown) out << " ...";
    for (const double value : stack.last(std::min(shown, stack.size()))) out << ' ' << value;
}

void trace_if_wanted(Context& ctx) {
    const char* const trace = std::getenv("TOLVA_TRACE");
    if (trace == nullptr || *trace == '\0') return;
    // A line is made whole, then written at once: standard error writes
    // every piece it is given.
    set_trace(ctx, [made = std::make_shared<std::ostringstream>()](Context& traced) {
        std::ostringstream& line = *made;
        constexpr std::size_t most_indent = 25;  // calls deep: a deep recursion's lines stay short
        const RunningToken running = running_token(traced);
        line.str("");
        line << "trace: " << std::string(2 * std::min(running.depth, most_indent), ' ');
        const Place& at = running.place;
        if (!at.source.empty()) line << at.source << ':' << at.line << ": ";
        line << at.token;
        if (collects(traced, at.token)) {
            // Nothing runs: the stack is as the line before showed it.
            line << "  collected into " << construct_opened(traced).token << '\n';
        } else {
            line << "  [";
            write_top_values(line, stack_values(traced));
            line << " ]\n";
        }
        *traced.err << line.str();
        check_errors(traced);
    });
}

}  // namespace forth
