// The embedding API (engine/embed.hpp) as plain C functions for the page's
// worker (web/worker.js): sessions, evaluation, what a run left behind, a
// run recorded token by token, and completion.
// Strings (UTF-8) and numbers cross in the module's memory; what a call
// returns stays valid until the next call on the same session.
#include <emscripten.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/completion.hpp"
#include "app/shell_words.hpp"
#include "engine/embed.hpp"

namespace forth {

namespace {

EM_JS(void, write_to_page, (int stream, const char* data, std::size_t size), {
    Module.tolva_write(stream, HEAPU8.slice(data, data + size));
});

EM_JS(void, checkpoint_to_page, (), {
    Module.tolva_checkpoint();
});

// Hands what a stream collects to the page whenever it is flushed or full.
class PageBuffer : public std::streambuf {
public:
    explicit PageBuffer(int stream) : stream_(stream) { setp(buffer_, buffer_ + sizeof buffer_); }

    // Bytes handed to the page so far.
    std::size_t written() const { return written_; }

protected:
    int_type overflow(int_type c) override {
        sync();
        if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }

    int sync() override {
        const auto size = static_cast<std::size_t>(pptr() - pbase());
        if (size != 0) write_to_page(stream_, pbase(), size);
        written_ += size;
        setp(buffer_, buffer_ + sizeof buffer_);
        return 0;
    }

private:
    int stream_;
    char buffer_[4096];
    std::size_t written_ = 0;
};

std::uint32_t u32(std::size_t number) { return static_cast<std::uint32_t>(number); }

// Places handed to the page by number, so that a recording names each one
// once. Number 0 stands for the calls a long chain leaves out.
class Places {
public:
    // Appends the place's number and how many calls it stands for.
    void add(std::vector<std::uint32_t>& numbers, const Place& place) {
        // The calls a long chain leaves out: one number for all of them, or
        // a deep recursion adds a place a call.
        if (place.left_out != 0) {
            numbers.push_back(0);
            numbers.push_back(u32(place.left_out));
            return;
        }
        std::string key = place.token;
        key += '\n';
        key += std::to_string(place.line) + ':' + std::to_string(place.column) + ':' + place.source;
        const auto [found, added] = numbers_.try_emplace(std::move(key), u32(places_.size()));
        if (added) places_.push_back({place.source, place.line, place.column, place.token});
        numbers.push_back(found->second);
        numbers.push_back(u32(place.times));
    }

    const Place& operator[](std::size_t number) const { return places_[number]; }
    std::size_t size() const { return places_.size(); }

private:
    std::vector<Place> places_{Place{}};
    std::unordered_map<std::string, std::uint32_t> numbers_;
};

// The interpreter as a token finds it, or as the run left it.
struct Step {
    std::vector<std::uint32_t> chain;  // place numbers and times, innermost first
    std::vector<double> top;           // the stack's top values, bottom first
    std::size_t depth = 0;
    std::string closing;               // the word the open construct waits for
    std::string buffer;                // the end of what it collected
    std::size_t output = 0;            // bytes written on both streams since the run began
};

// A recording as the page reads it: per step six numbers (the chain's
// pairs, the values kept, the depth, the closing word's and the buffer's
// bytes, the output's bytes), then the steps' chains, values and texts
// one after another.
struct Flat {
    std::vector<std::uint32_t> steps;
    std::vector<std::uint32_t> chains;
    std::vector<double> values;
    std::string text;
};

// A run token by token. Of a long one the last steps are kept: a step is
// the chain and the stack's top, never the whole stack.
class Recording {
public:
    static constexpr std::size_t kept_steps = 10000;
    static constexpr std::size_t kept_values = 32;
    static constexpr std::size_t kept_text = 160;  // bytes of a construct's buffer
    static constexpr std::size_t kept_calls = 24;  // innermost; the outermost is kept too

    void take(Context& ctx, Places& places, std::size_t output) {
        if (steps_.size() < kept_steps) steps_.emplace_back();
        snapshot(steps_[taken_ % kept_steps], ctx, places, output);
        ++taken_;
    }

    void end(Context& ctx, Places& places, std::size_t output) {
        snapshot(end_, ctx, places, output);
        ended_ = true;
    }

    std::uint64_t taken() const { return taken_; }

    // The kept steps oldest first, then the end when there is one.
    void flatten(Flat& flat) const {
        flat = {};
        const auto add = [&flat](const Step& step) {
            flat.steps.insert(flat.steps.end(), {u32(step.chain.size() / 2), u32(step.top.size()), u32(step.depth),
                                                 u32(step.closing.size()), u32(step.buffer.size()), u32(step.output)});
            flat.chains.insert(flat.chains.end(), step.chain.begin(), step.chain.end());
            flat.values.insert(flat.values.end(), step.top.begin(), step.top.end());
            flat.text += step.closing;
            flat.text += step.buffer;
        };
        const std::size_t kept = steps_.size();
        for (std::size_t index = 0; index < kept; ++index) add(steps_[(taken_ + index) % kept]);
        if (ended_) add(end_);
    }

    bool ended() const { return ended_; }

private:
    static void snapshot(Step& step, Context& ctx, Places& places, std::size_t output) {
        step.chain.clear();
        for (const Place& place : recent_places(ctx, kept_calls)) places.add(step.chain, place);
        const std::span<const double> stack = stack_values(ctx);
        const auto top = stack.last(std::min(stack.size(), kept_values));
        step.top.assign(top.begin(), top.end());
        step.depth = stack.size();
        step.closing = closing_word(ctx);
        step.buffer = step.closing.empty() ? std::string() : tail(joined(ctx.buffer));
        step.output = output;
    }

    // The end of a long buffer, from a token's start.
    static std::string tail(std::string_view text) {
        if (text.size() <= kept_text) return std::string(text);
        const std::size_t blank = text.find(' ', text.size() - kept_text);
        return "... " + std::string(text.substr(blank == text.npos ? text.size() - kept_text : blank + 1));
    }

    std::vector<Step> steps_;
    std::uint64_t taken_ = 0;
    Step end_;
    bool ended_ = false;
};

struct Session {
    Session() {
        load_builtins(ctx);
        add_shell_words(ctx);
        ctx.out = &out;
        ctx.err = &err;
        ctx.in = &in;
    }

    Context ctx;
    // The page numbers these streams as the terminal does: 1 and 2.
    PageBuffer out_buffer{1};
    PageBuffer err_buffer{2};
    std::ostream out{&out_buffer};
    std::ostream err{&err_buffer};
    std::istringstream in;
    std::size_t lines_typed = 0;
    Outcome outcome;
    std::size_t input_used = 0;
    std::string text;
    Places places;
    Recording recording;
    std::vector<std::uint32_t> numbers;  // handed to the page
    Flat flat;
};

// Bytes written on both streams, once what they hold is handed over.
std::size_t bytes_written(Session& session) {
    session.out.flush();
    session.err.flush();
    return session.out_buffer.written() + session.err_buffer.written();
}

// How many lines of `input` accept has taken.
std::size_t lines_taken(std::istringstream& in, const std::string& input) {
    const std::streampos position = in.tellg();
    const std::size_t end = position < 0 ? input.size() : static_cast<std::size_t>(position);
    const auto lines = static_cast<std::size_t>(std::count(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
    // A last line without its newline counts once read.
    return end == input.size() && end > 0 && input.back() != '\n' ? lines + 1 : lines;
}

// Records every token that runs from now on, with the bytes written since
// `start`, until the trace is taken away.
void record_steps(Session& session, std::size_t start) {
    set_trace(session.ctx, [&session, start, checkpoint = emscripten_get_now()](Context& ctx) mutable {
        session.recording.take(ctx, session.places, bytes_written(session) - start);
        if (session.recording.taken() % 1024 == 0 && emscripten_get_now() - checkpoint > 250) {
            checkpoint_to_page();
            checkpoint = emscripten_get_now();
        }
    });
}

// Runs `run` with `input` for accept, and notes how it went.
template <typename Run>
int evaluate_with_input(Session& session, const char* input, Run&& run) {
    const std::string lines = input;
    session.in.clear();
    session.in.str(lines);
    session.outcome = std::forward<Run>(run)();
    session.input_used = lines_taken(session.in, lines);
    session.out.flush();
    session.err.flush();
    return session.outcome.ok ? 1 : 0;
}

const char* hand_over(Session& session, std::string text) {
    session.text = std::move(text);
    return session.text.c_str();
}

}  // namespace

}  // namespace forth

using forth::Session;
using forth::u32;

extern "C" {

// A Context with the built-in words and those of the interactive shell.
// Places are tracked from the start, so that errors point inside words.
EMSCRIPTEN_KEEPALIVE Session* tolva_new_session() {
    auto* const session = new Session;
    forth::track_places(session->ctx);
    return session;
}

EMSCRIPTEN_KEEPALIVE void tolva_delete_session(Session* session) { delete session; }

// Runs a program as the command line runs a file: line by line, until the
// first error.
EMSCRIPTEN_KEEPALIVE int tolva_run_program(Session* session, const char* program, const char* name, const char* input) {
    return forth::evaluate_with_input(*session, input, [&] {
        std::istringstream lines{std::string(program)};
        return forth::catch_errors(session->ctx, [&] { forth::evaluate_lines(session->ctx, lines, {name}); });
    });
}

// Runs one line typed at the console, numbered as the terminal session numbers them.
EMSCRIPTEN_KEEPALIVE int tolva_enter_line(Session* session, const char* line, const char* input) {
    return forth::evaluate_with_input(*session, input, [&] {
        return forth::try_evaluate(session->ctx, line, {"<input>", ++session->lines_typed});
    });
}

// Runs a program as tolva_run_program does, token by token, recording
// each step; now and then the page is handed what is recorded so far
// (Module.tolva_checkpoint), as a run that never ends is stopped by ending
// the worker.
EMSCRIPTEN_KEEPALIVE int tolva_record_program(Session* session, const char* program, const char* name, const char* input) {
    const std::size_t start = forth::bytes_written(*session);
    forth::record_steps(*session, start);
    const int ok = tolva_run_program(session, program, name, input);
    forth::set_trace(session->ctx, nullptr);
    session->recording.end(session->ctx, session->places, forth::bytes_written(*session) - start);
    return ok;
}

// What is recorded (Flat): where each of its four parts is in memory and
// how long it is, then how many places there are and whether the end is
// there.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* tolva_recording(Session* session) {
    forth::Flat& flat = session->flat;
    session->recording.flatten(flat);
    const auto at = [](const auto& items) { return u32(reinterpret_cast<std::uintptr_t>(items.data())); };
    session->numbers = {at(flat.steps), u32(flat.steps.size()), at(flat.chains), u32(flat.chains.size()),
                        at(flat.values), u32(flat.values.size()), at(flat.text), u32(flat.text.size()),
                        u32(session->places.size()), session->recording.ended()};
    return session->numbers.data();
}

// Tokens run while recording, all of them, kept or not.
EMSCRIPTEN_KEEPALIVE double tolva_steps_taken(Session* session) {
    return static_cast<double>(session->recording.taken());
}

// A place by its number: source ("program", "<input>" or a file's name),
// line, column (bytes from the line's start) and token.
EMSCRIPTEN_KEEPALIVE const char* tolva_place_source(Session* session, int number) {
    return session->places[static_cast<std::size_t>(number)].source.c_str();
}

EMSCRIPTEN_KEEPALIVE int tolva_place_line(Session* session, int number) {
    return static_cast<int>(session->places[static_cast<std::size_t>(number)].line);
}

EMSCRIPTEN_KEEPALIVE int tolva_place_column(Session* session, int number) {
    return static_cast<int>(session->places[static_cast<std::size_t>(number)].column);
}

EMSCRIPTEN_KEEPALIVE const char* tolva_place_token(Session* session, int number) {
    return session->places[static_cast<std::size_t>(number)].token.c_str();
}

// The last evaluation's error report, "Domain error: unknown word - foo".
EMSCRIPTEN_KEEPALIVE const char* tolva_error(Session* session) { return session->outcome.report.c_str(); }

// Where the last error happened, innermost first: the count of places,
// then each place's number and times (none when not known).
EMSCRIPTEN_KEEPALIVE const std::uint32_t* tolva_error_chain(Session* session) {
    std::vector<std::uint32_t>& numbers = session->numbers;
    numbers = {0};
    if (const auto& location = session->outcome.location) {
        session->places.add(numbers, *location);
        for (const forth::Place& caller : location->callers) session->places.add(numbers, caller);
    }
    numbers[0] = u32(numbers.size() / 2);
    return numbers.data();
}

// The lines of its input the last evaluation read with accept.
EMSCRIPTEN_KEEPALIVE int tolva_input_used(Session* session) { return static_cast<int>(session->input_used); }

// The word that closes the open construct; empty when none is open.
EMSCRIPTEN_KEEPALIVE const char* tolva_closing_word(Session* session) {
    return forth::hand_over(*session, std::string(forth::closing_word(session->ctx)));
}

EMSCRIPTEN_KEEPALIVE int tolva_depth(Session* session) {
    return static_cast<int>(forth::stack_values(session->ctx).size());
}

// The top `count` values of the stack, bottom first, each printed as `.`
// prints it: a stack of millions is not printed whole after every line.
EMSCRIPTEN_KEEPALIVE const char* tolva_stack(Session* session, int count) {
    const auto values = forth::stack_values(session->ctx);
    std::ostringstream text;
    for (const double value : values.last(std::min(values.size(), static_cast<std::size_t>(count)))) text << value << ' ';
    return forth::hand_over(*session, text.str());
}

// What the last token of `text` can be completed to, a name a line, as Tab
// completes it on a terminal.
EMSCRIPTEN_KEEPALIVE const char* tolva_completions(Session* session, const char* text) {
    std::string names;
    for (const std::string& name : forth::completions(session->ctx, forth::last_token(text))) names += name + '\n';
    return forth::hand_over(*session, names);
}

// The lines that open the terminal session.
EMSCRIPTEN_KEEPALIVE const char* tolva_banner(Session* session) {
    std::ostringstream text;
    forth::write_banner(text, session->ctx);
    return forth::hand_over(*session, text.str());
}
}
