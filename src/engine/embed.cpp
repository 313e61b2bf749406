#include "engine/embed.hpp"

#include <algorithm>
#include <functional>
#include <ostream>
#include <stdexcept>

namespace forth {

namespace {

// Called while the error is on its way out of `text`: the first source it
// leaves is where it happened, unless it came before any token ran there.
void note_location(Runtime& runtime, std::string_view text, const Source& source, const TextPosition& failed_at) {
    std::exception_ptr error = std::current_exception();
    if (failed_at.end == 0 || runtime.failing == error) return;
    const std::string_view before = text.substr(0, failed_at.begin);
    const std::string_view token = text.substr(failed_at.begin, failed_at.end - failed_at.begin);
    runtime.failed_at.source.assign(source.name.begin(), source.name.end());
    runtime.failed_at.line =
        source.first_line + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    runtime.failed_at.token.assign(token.begin(), token.end());
    runtime.failing = std::move(error);
}

}  // namespace

void evaluate_source(Context& ctx, const std::string& text, const Source& source) {
    TextPosition failed_at;
    try {
        evaluate(ctx, text, &failed_at);
    } catch (const std::exception&) {
        note_location(ctx.runtime, text, source, failed_at);
        throw;
    }
}

void evaluate_lines(Context& ctx, std::istream& lines, const Source& source) {
    std::string line;
    for (std::size_t number = source.first_line; std::getline(lines, line); ++number) {
        evaluate_source(ctx, line, {source.name, number});
    }
}

std::string error_report(const std::exception& error) {
    if (dynamic_cast<const Interrupted*>(&error) != nullptr) return "Interrupted";
    const char* prefix = "Error: ";
    if (dynamic_cast<const std::domain_error*>(&error) != nullptr) {
        prefix = "Domain error: ";
    } else if (dynamic_cast<const std::bad_function_call*>(&error) != nullptr) {
        prefix = "Bad function call: ";
    } else if (dynamic_cast<const std::out_of_range*>(&error) != nullptr) {
        prefix = "Out of range: ";
    } else if (dynamic_cast<const std::runtime_error*>(&error) != nullptr) {
        prefix = "Runtime error: ";
    }
    std::string report = prefix;
    report += error.what();
    return report;
}

Outcome failure(Context& ctx, const std::exception& error) {
    Outcome outcome{false, error_report(error), std::nullopt};
    Runtime& runtime = ctx.runtime;
    if (runtime.failing != nullptr && runtime.failing == std::current_exception()) {
        outcome.location = std::move(runtime.failed_at);
    }
    // Holds the error no longer than its report.
    runtime.failing = nullptr;
    return outcome;
}

Outcome try_evaluate(Context& ctx, const std::string& text, const Source& source) {
    return catch_errors(ctx, [&] { evaluate_source(ctx, text, source); });
}

void write_report(Context& ctx, const Outcome& outcome, bool with_location) {
    if (outcome.ok) return;
    std::ostream& err = *ctx.err;
    err << outcome.report << '\n';
    if (with_location && outcome.location) {
        const ErrorLocation& at = *outcome.location;
        err << "  at " << at.source << ':' << at.line << ": " << at.token << '\n';
    }
    err << std::flush;
}

}  // namespace forth
