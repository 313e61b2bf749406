#include "engine/embed.hpp"

#include <algorithm>
#include <functional>
#include <ostream>
#include <stdexcept>

#include "core/streams.hpp"
#include "engine/driver.hpp"

namespace forth {

namespace {

// Called while the error is on its way out of `text`: the first source it
// leaves is where it happened, unless it came before any token ran there.
void note_location(Runtime& runtime, std::string_view text, const Source& source, const TextPosition& failed_at) {
    std::exception_ptr error = std::current_exception();
    if (failed_at.end == 0 || runtime.failing == error) return;
    if (runtime.chain_noted && !runtime.chain.empty()) {
        static_cast<Place&>(runtime.failed_at) = std::move(runtime.chain.front());
        runtime.failed_at.callers.assign(std::make_move_iterator(runtime.chain.begin() + 1),
                                         std::make_move_iterator(runtime.chain.end()));
        runtime.failing = std::move(error);
        return;
    }
    const std::string_view before = text.substr(0, failed_at.begin);
    const std::string_view token = text.substr(failed_at.begin, failed_at.end - failed_at.begin);
    runtime.failed_at.source.assign(source.name.begin(), source.name.end());
    runtime.failed_at.line =
        source.first_line + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    runtime.failed_at.column = static_cast<std::size_t>(failed_at.begin - (before.rfind('\n') + 1));
    runtime.failed_at.token.assign(token.begin(), token.end());
    runtime.failed_at.callers.clear();
    runtime.failing = std::move(error);
}

// Says where the text evaluated next was read, numbering its source's
// name, for the places of its tokens. Out of line: text that runs
// untracked pays nothing for it.
[[gnu::noinline]] void set_text_start(Runtime& runtime, const Source& source) {
    // A chain left by what ended a run without a report (a front end's own
    // stop) is no error's now.
    if (runtime.frames.empty()) runtime.chain_noted = false;
    std::vector<std::string>& sources = runtime.sources;
    auto known = std::find(sources.rbegin(), sources.rend(), source.name);
    if (known == sources.rend()) {
        sources.emplace_back(source.name);
        known = sources.rbegin();
    }
    runtime.text_start = {static_cast<std::uint32_t>(sources.rend() - known),
                          static_cast<std::uint32_t>(source.first_line), 0};
}

void evaluate_text(Context& ctx, const std::string& text, const Source& source) {
    TextPosition failed_at;
    if (ctx.runtime.tracking) set_text_start(ctx.runtime, source);
    try {
        evaluate(ctx, text, &failed_at);
    } catch (const std::exception&) {
        note_location(ctx.runtime, text, source, failed_at);
        throw;
    }
}

// An evaluation begins: a request made while nothing ran was meant for
// code that has ended.
void begin(Context& ctx) {
    if (ctx.runtime.frames.empty()) ctx.runtime.interrupt_requested = 0;
}

}  // namespace

void evaluate_source(Context& ctx, const std::string& text, const Source& source) {
    begin(ctx);
    evaluate_text(ctx, text, source);
}

void evaluate_lines(Context& ctx, std::istream& lines, const Source& source) {
    begin(ctx);
    std::string line;
    for (std::size_t number = source.first_line; std::getline(lines, line); ++number) {
        evaluate_text(ctx, line, {source.name, number});
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
    Outcome outcome{false, error_report(error), std::nullopt, dynamic_cast<const WriteFailed*>(&error) != nullptr};
    Runtime& runtime = ctx.runtime;
    if (runtime.failing != nullptr && runtime.failing == std::current_exception()) {
        outcome.location = std::move(runtime.failed_at);
    }
    // Holds the error no longer than its report.
    runtime.failing = nullptr;
    runtime.chain.clear();
    runtime.chain_noted = false;
    return outcome;
}

Outcome try_evaluate(Context& ctx, const std::string& text, const Source& source) {
    return catch_errors(ctx, [&] { evaluate_source(ctx, text, source); });
}

void write_place(std::ostream& out, std::string_view prefix, const Place& place) {
    out << prefix;
    if (place.left_out != 0) {
        out << "... " << place.left_out << " more calls\n";
        return;
    }
    if (!place.source.empty()) out << place.source << ':' << place.line << ": ";
    out << place.token;
    if (place.times > 1) out << " (" << place.times << " times)";
    out << '\n';
}

void set_poll_hook(Context& ctx, std::function<void(Context&)> hook) {
    ctx.runtime.on_poll = std::move(hook);
    set_trap(ctx.runtime);
}

void set_trace(Context& ctx, std::function<void(Context&)> trace) {
    Runtime& runtime = ctx.runtime;
    runtime.plain = static_cast<bool>(trace);
    if (trace) runtime.tracking = true;
    runtime.trace = std::move(trace);
}

std::vector<Place> running_places(Context& ctx) { return running_chain(ctx.runtime); }

std::vector<Place> recent_places(Context& ctx, std::size_t most) { return recent_calls(ctx.runtime, most); }

RunningToken running_token(Context& ctx) { return {running_token(ctx.runtime), call_depth(ctx.runtime)}; }

void write_report(Context& ctx, const Outcome& outcome, bool with_location) {
    if (outcome.ok) return;
    std::ostream& err = *ctx.err;
    err << outcome.report << '\n';
    if (with_location && outcome.location) {
        const ErrorLocation& at = *outcome.location;
        write_place(err, "  at ", at);
        for (const Place& caller : at.callers) write_place(err, "  from ", caller);
    }
    err << std::flush;
}

}  // namespace forth
