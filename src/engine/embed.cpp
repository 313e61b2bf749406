#include "engine/embed.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <ostream>
#include <stdexcept>

#include "core/streams.hpp"
#include "core/text_register.hpp"
#include "engine/evaluator.hpp"
#include "engine/places.hpp"
#include "engine/slips.hpp"

namespace forth {

namespace {

// Called while the error is on its way out of `text`: the first source it
// leaves is where it happened, unless it came before any token ran there.
void note_location(Evaluator& state, std::string_view text, const Source& source, const TextPosition& failed_at) {
    std::exception_ptr error = std::current_exception();
    if (failed_at.end == 0 || state.failing == error) return;
    if (state.chain_noted && !state.chain.empty()) {
        static_cast<Place&>(state.failed_at) = std::move(state.chain.front());
        state.failed_at.callers.assign(std::make_move_iterator(state.chain.begin() + 1),
                                         std::make_move_iterator(state.chain.end()));
        state.failing = std::move(error);
        return;
    }
    const std::string_view before = text.substr(0, failed_at.begin);
    const std::string_view token = text.substr(failed_at.begin, failed_at.end - failed_at.begin);
    state.failed_at.source.assign(source.name.begin(), source.name.end());
    state.failed_at.line =
        source.first_line + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    state.failed_at.column = static_cast<std::size_t>(failed_at.begin - (before.rfind('\n') + 1));
    state.failed_at.token.assign(token.begin(), token.end());
    state.failed_at.callers.clear();
    state.failing = std::move(error);
}

// Says where the text evaluated next was read, numbering its source's
// name, for the places of its tokens. Out of line: text that runs
// untracked pays nothing for it.
[[gnu::noinline]] void set_text_start(Evaluator& state, const Source& source) {
    // A chain left by what ended a run without a report (a front end's own
    // stop) is no error's now.
    if (state.frames.empty()) state.chain_noted = false;
    std::vector<std::string>& sources = state.sources;
    auto known = std::find(sources.rbegin(), sources.rend(), source.name);
    if (known == sources.rend()) {
        sources.emplace_back(source.name);
        known = sources.rbegin();
    }
    state.text_start = {static_cast<std::uint32_t>(sources.rend() - known),
                          static_cast<std::uint32_t>(source.first_line), 0};
}

void evaluate_text(Context& ctx, const std::string& text, const Source& source) {
    TextPosition failed_at;
    Evaluator& state = evaluator(ctx);
    if (state.tracking) set_text_start(state, source);
    try {
        evaluate(ctx, text, &failed_at);
    } catch (const std::exception&) {
        note_location(state, text, source, failed_at);
        throw;
    }
}

// The lines of a stream as std::getline reads them (split at each newline,
// a last one without a newline too, a read error leaving the stream bad),
// taken from its buffer a block at a time: a program file may be a
// million short lines.
class LineReader {
public:
    explicit LineReader(std::istream& in) : in_(in), block_(block_size) {}

    bool next(std::string& line) {
        line.clear();
        bool any = false;
        for (;;) {
            if (at_ == size_ && !fill()) return any;
            any = true;
            const char* const start = block_.data() + at_;
            const auto* const end = static_cast<const char*>(std::memchr(start, '\n', size_ - at_));
            if (end != nullptr) {
                line.append(start, static_cast<std::size_t>(end - start));
                at_ = static_cast<std::size_t>(end - block_.data()) + 1;
                return true;
            }
            line.append(start, size_ - at_);
            at_ = size_;
        }
    }

private:
    bool fill() {
        if (!in_.good()) return false;
        try {
            size_ = static_cast<std::size_t>(in_.rdbuf()->sgetn(block_.data(), block_size));
        } catch (...) {
            size_ = 0;
            in_.setstate(std::ios_base::badbit);
            return false;
        }
        at_ = 0;
        if (size_ == 0) in_.setstate(std::ios_base::eofbit | std::ios_base::failbit);
        return size_ != 0;
    }

    // On the heap: files included inside one another each have one.
    static constexpr std::size_t block_size = 1 << 16;
    std::istream& in_;
    std::vector<char> block_;
    std::size_t at_ = 0, size_ = 0;
};

// An evaluation begins: a request made while nothing ran was meant for
// code that has ended.
void begin(Context& ctx) {
    if (evaluator(ctx).frames.empty()) drop_interrupt(ctx.runtime);
    forget_joined_text(ctx.runtime);  // the embedder may have written the text register
}

}  // namespace

void evaluate_source(Context& ctx, const std::string& text, const Source& source) {
    begin(ctx);
    evaluate_text(ctx, text, source);
}

void evaluate_lines(Context& ctx, std::istream& lines, const Source& source) {
    begin(ctx);
    LineReader reader(lines);
    std::string line;
    for (std::size_t number = source.first_line; reader.next(line); ++number) {
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
    Outcome outcome{false, error_report(error), std::nullopt, {}, dynamic_cast<const WriteFailed*>(&error) != nullptr};
    Evaluator& state = evaluator(ctx);
    if (state.failing != nullptr && state.failing == std::current_exception()) {
        outcome.location = std::move(state.failed_at);
    }
    try {
        outcome.explanation = explain_failure(ctx, error, outcome.location ? outcome.location->token : std::string());
    } catch (const std::exception&) {
        // Memory may be what ran out: the report goes without its explanation.
    }
    // Holds the error no longer than its report.
    state.failing = nullptr;
    state.chain.clear();
    state.chain_noted = false;
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
    evaluator(ctx).on_poll = std::move(hook);
    set_trap(ctx.runtime);
}

std::size_t tokens_compiled(Context& ctx) { return evaluator(ctx).tokens_compiled; }

void set_trace(Context& ctx, std::function<void(Context&)> trace) {
    Evaluator& state = evaluator(ctx);
    state.by_tokens = static_cast<bool>(trace);
    if (trace) state.tracking = true;
    state.trace = std::move(trace);
    set_trap(ctx.runtime);
}

void track_places(Context& ctx) { evaluator(ctx).tracking = true; }

const Place& construct_opened(Context& ctx) { return evaluator(ctx).opened; }

std::vector<Place> running_places(Context& ctx) { return running_chain(evaluator(ctx)); }

std::vector<Place> recent_places(Context& ctx, std::size_t most) { return recent_calls(evaluator(ctx), most); }

RunningToken running_token(Context& ctx) {
    Evaluator& state = evaluator(ctx);
    return {running_token(state), call_depth(state)};
}

void write_report(Context& ctx, const Outcome& outcome, bool with_location, bool explained) {
    if (outcome.ok) return;
    std::ostream& err = *ctx.err;
    err << outcome.report << '\n';
    if (explained && !outcome.explanation.empty()) err << "  " << outcome.explanation << '\n';
    if (with_location && outcome.location) {
        const ErrorLocation& at = *outcome.location;
        write_place(err, "  at ", at);
        for (const Place& caller : at.callers) write_place(err, "  from ", caller);
    }
    err << std::flush;
}

}  // namespace forth
