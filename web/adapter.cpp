// The embedding API (engine/embed.hpp) as plain C functions for the page's
// worker (web/worker.js): sessions, evaluation, what a run left behind, a
// run recorded token by token, a run's profile, and completion.
// Numbers and strings (UTF-8) cross in the module's memory, and what has
// fields (a recording, a chain of places) as JSON text; what a call returns
// stays valid until the next call on the same session.
#include <emscripten.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
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
#include "engine/profile.hpp"

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

// JSON, written by hand: the build has no JSON library, and a long
// recording is written four times a second.

void json_number(std::string& json, std::uint64_t number) {
    char digits[24];
    json.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
}

// The length of the UTF-8 sequence `text` begins with, and whether it is
// whole; a broken one ends before the first byte that cannot go on with
// it, as the page's TextDecoder reads it.
std::pair<std::size_t, bool> utf8_sequence(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0) return {1, false};
    // The second byte's range also rules out overlong forms, surrogates and code points past U+10FFFF.
    unsigned char lowest = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned char highest = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    for (std::size_t at = 1; at < length; ++at) {
        if (at == text.size() || static_cast<unsigned char>(text[at]) < lowest || static_cast<unsigned char>(text[at]) > highest) {
            return {at, false};
        }
        lowest = 0x80;
        highest = 0xBF;
    }
    return {length, true};
}

// A string of any bytes: what is not UTF-8 becomes U+FFFD, a broken
// sequence at a time.
void json_string(std::string& json, std::string_view text) {
    json += '"';
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text[0]);
        std::size_t length = 1;
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += text[0];
        } else if (byte < 0x20) {
            constexpr char hex[] = "0123456789abcdef";
            json += "\\u00";
            json += hex[byte >> 4];
            json += hex[byte & 15];
        } else if (byte < 0x80) {
            json += text[0];
        } else {
            const auto [sequence, whole] = utf8_sequence(text);
            json.append(whole ? text.substr(0, sequence) : "\uFFFD");
            length = sequence;
        }
        text.remove_prefix(length);
    }
    json += '"';
}

// A field after the first of an object: its name, then its value.
void json_field(std::string& json, std::string_view name, std::uint64_t number) {
    json.append(",\"").append(name).append("\":");
    json_number(json, number);
}
void json_field(std::string& json, std::string_view name, std::string_view text) {
    json.append(",\"").append(name).append("\":");
    json_string(json, text);
}

// A place as the page reads it, its fields named as Place names them.
void json_place(std::string& json, const Place& place) {
    json += "{\"source\":";
    json_string(json, place.source);
    json_field(json, "line", place.line);
    json_field(json, "column", place.column);
    json_field(json, "token", place.token);
    json_field(json, "times", place.times);
    json_field(json, "left_out", place.left_out);
    json += '}';
}

template <typename Item, typename Write>
void json_array(std::string& json, const std::vector<Item>& items, Write&& write) {
    json += '[';
    for (const Item& item : items) {
        if (&item != items.data()) json += ',';
        write(json, item);
    }
    json += ']';
}

// Numbers each distinct key in the order it is first met, so that a
// recording holds its item once and refers to it by number.
template <typename Key, typename Item, typename Hash = std::hash<Key>, typename Equal = std::equal_to<Key>>
class Numbering {
public:
    // The key's number; `make` makes its item when the key is new.
    template <typename Make>
    std::uint32_t number(const Key& key, Make&& make) {
        const auto [found, added] = numbers_.try_emplace(key, static_cast<std::uint32_t>(items_.size()));
        if (added) items_.push_back(make());
        return found->second;
    }

    const std::vector<Item>& items() const { return items_; }

    void clear() {
        numbers_.clear();
        items_.clear();
    }

private:
    std::unordered_map<Key, std::uint32_t, Hash, Equal> numbers_;
    std::vector<Item> items_;
};

// A value's bits: values that differ only there (0 and -0, NaNs) differ
// for a recording too.
std::uint64_t bits(double value) {
    std::uint64_t key;
    std::memcpy(&key, &value, sizeof key);
    return key;
}

// The interpreter as a token finds it, or as the run left it.
struct Step {
    std::vector<Place> chain;  // innermost first
    std::vector<double> top;   // the stack's top values, bottom first
    std::size_t depth = 0;
    std::size_t calls = 0;     // how many calls deep the token runs
    bool collected = false;    // the token is only stored into the open construct
    std::string opener;        // the token that opened the open construct
    std::string closing;       // the word the open construct waits for
    std::string buffer;        // the end of what it collected
    std::size_t output = 0;    // bytes written on both streams since the run began
    std::vector<double> variables;  // the kept variables' values, in Recording's order
};

// A run token by token. Of a long one the last steps are kept: a step is
// the chain, the stack's top (never the whole stack) and the values of the
// variables made first.
class Recording {
public:
    static constexpr std::size_t kept_steps = 10000;
    static constexpr std::size_t kept_values = 32;
    static constexpr std::size_t kept_text = 160;  // bytes of a construct's buffer
    static constexpr std::size_t kept_calls = 24;  // innermost; the outermost is kept too
    static constexpr std::size_t kept_variables = 64;  // the first made

    void take(Context& ctx, std::size_t output) {
        if (steps_.size() < kept_steps) steps_.emplace_back();
        Step& step = steps_[taken_ % kept_steps];
        snapshot(step, ctx, output);
        const RunningToken running = running_token(ctx);
        step.calls = running.depth;
        step.collected = collects(ctx, running.place.token);
        ++taken_;
    }

    // No token runs at the end: it is at the top, and nothing is collected.
    void end(Context& ctx, std::size_t output) {
        snapshot(end_, ctx, output);
        ended_ = true;
    }

    std::uint64_t taken() const { return taken_; }

    // The recording as the page reads it, as JSON:
    //   taken   tokens run, all of them, kept or not
    //   ended   whether the run ended; its state then is the last step
    //   steps   the kept steps oldest first, each
    //             chain    where it runs, innermost first: numbers in places
    //             top      the stack's top values, bottom first: numbers in values
    //             depth, calls, collected, opener, closing, buffer, output   as in Step
    //             set      the variables changed or made since the step before, or all
    //                      of them in the first step: pairs of a number in variables
    //                      and a number in values; left out when none was
    //   places  places (json_place), each once
    //   values  values as `.` prints them, without the blank after, each once
    //   variables       the names of the kept variables, in the order they were made
    //   more_variables  how many more were made, not kept
    void write(std::string& json) {
        json = "{\"taken\":";
        json_number(json, taken_);
        json += ",\"ended\":";
        json += ended_ ? "true" : "false";
        json += ",\"steps\":[";
        const std::size_t kept = steps_.size();
        const std::vector<double>* before = nullptr;
        for (std::size_t index = 0; index < kept; ++index) {
            if (index != 0) json += ',';
            write_step(json, steps_[(taken_ + index) % kept], before);
        }
        if (ended_) {
            if (kept != 0) json += ',';
            write_step(json, end_, before);
        }
        json += "],\"places\":";
        json_array(json, places_.items(), json_place);
        json += ",\"values\":";
        json_array(json, values_.items(), [](std::string& json, const std::string& value) { json_string(json, value); });
        json += ",\"variables\":";
        json_array(json, names_, [](std::string& json, const std::string& name) { json_string(json, name); });
        json_field(json, "more_variables", variables_made_ - names_.size());
        json += '}';
        places_.clear();
        values_.clear();
    }

private:
    void snapshot(Step& step, Context& ctx, std::size_t output) {
        step.chain = recent_places(ctx, kept_calls);
        const std::span<const double> stack = stack_values(ctx);
        const auto top = stack.last(std::min(stack.size(), kept_values));
        step.top.assign(top.begin(), top.end());
        step.depth = stack.size();
        step.closing = closing_word(ctx);
        step.opener = step.closing.empty() ? std::string() : construct_opened(ctx).token;
        step.buffer = step.closing.empty() ? std::string() : tail(joined(ctx.buffer));
        step.output = output;
        // Copied whole into the step's own room, which it keeps as the
        // steps go round: less work than sharing one copy among steps alike.
        if (ctx.variables.size() != variables_made_) find_variables(ctx);
        step.variables.resize(cells_.size());
        std::transform(cells_.begin(), cells_.end(), step.variables.begin(), [](const double* cell) { return *cell; });
    }

    // Keeps the variables made since it last looked, up to kept_variables,
    // where the table holds their values: nothing removes one, so they stay
    // there. Of several made at once, in the order of their names.
    void find_variables(Context& ctx) {
        variables_made_ = ctx.variables.size();
        if (names_.size() == kept_variables) return;
        std::vector<std::pair<std::string_view, const double*>> made;
        for (const auto& [name, value] : ctx.variables) {
            if (std::find(names_.begin(), names_.end(), name) == names_.end()) made.emplace_back(name, &value);
        }
        std::sort(made.begin(), made.end());
        for (const auto& [name, cell] : made) {
            if (names_.size() == kept_variables) break;
            names_.emplace_back(name);
            cells_.push_back(cell);
        }
    }

    // The end of a long buffer, from a token's start.
    static std::string tail(std::string_view text) {
        if (text.size() <= kept_text) return std::string(text);
        const std::size_t blank = text.find(' ', text.size() - kept_text);
        return "... " + std::string(text.substr(blank == text.npos ? text.size() - kept_text : blank + 1));
    }

    // `before` is the variables of the step written before, none for the
    // first; it becomes this step's.
    void write_step(std::string& json, const Step& step, const std::vector<double>*& before) {
        json += "{\"chain\":";
        json_array(json, step.chain, [this](std::string& json, const Place& place) {
            json_number(json, places_.number(place, [&place] { return place; }));
        });
        json += ",\"top\":";
        json_array(json, step.top, [this](std::string& json, double value) {
            json_number(json, value_number(value));
        });
        const std::vector<double>& variables = step.variables;
        const auto same = [](double a, double b) { return bits(a) == bits(b); };
        if (!before || !std::equal(variables.begin(), variables.end(), before->begin(), before->end(), same)) {
            json += ",\"set\":[";
            bool first = true;
            for (std::size_t index = 0; index < variables.size(); ++index) {
                if (before && index < before->size() && same((*before)[index], variables[index])) continue;
                if (!first) json += ',';
                first = false;
                json_number(json, index);
                json += ',';
                json_number(json, value_number(variables[index]));
            }
            json += ']';
        }
        before = &variables;
        json_field(json, "depth", step.depth);
        json_field(json, "calls", step.calls);
        json += step.collected ? ",\"collected\":true" : ",\"collected\":false";
        json_field(json, "opener", step.opener);
        json_field(json, "closing", step.closing);
        json_field(json, "buffer", step.buffer);
        json_field(json, "output", step.output);
        json += '}';
    }

    // A number for each value bit for bit, not for each text: a value that
    // changed is marked even where it prints alike.
    std::uint32_t value_number(double value) {
        return values_.number(bits(value), [this, value] {
            printer_.str({});
            printer_ << value;
            return printer_.str();
        });
    }

    struct PlaceKey {
        std::size_t operator()(const Place& place) const {
            return std::hash<std::string>{}(place.token) ^ (place.line << 12) ^ place.column ^ (place.times << 24) ^ place.left_out;
        }
        bool operator()(const Place& a, const Place& b) const {
            return a.token == b.token && a.line == b.line && a.column == b.column && a.source == b.source && a.times == b.times &&
                   a.left_out == b.left_out;
        }
    };

    std::vector<Step> steps_;
    std::uint64_t taken_ = 0;
    Step end_;
    bool ended_ = false;
    Numbering<Place, Place, PlaceKey, PlaceKey> places_;
    Numbering<std::uint64_t, std::string> values_;
    std::ostringstream printer_;  // a value as `.` prints it, without the blank after it
    std::vector<std::string> names_;  // the kept variables, in the order they were made
    std::vector<const double*> cells_;  // where the table holds their values
    std::size_t variables_made_ = 0;
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
    std::string text;  // handed to the page
    Recording recording;
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
        session.recording.take(ctx, bytes_written(session) - start);
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
    session->recording.end(session->ctx, forth::bytes_written(*session) - start);
    return ok;
}

// What is recorded, as JSON (Recording::write).
EMSCRIPTEN_KEEPALIVE const char* tolva_recording(Session* session) {
    session->recording.write(session->text);
    return session->text.c_str();
}

// Runs a program as tolva_run_program does, with a profile of where its
// steps go whose root frame is the program's name.
EMSCRIPTEN_KEEPALIVE int tolva_profile_program(Session* session, const char* program, const char* name, const char* input) {
    forth::start_profile(session->ctx, name);
    return tolva_run_program(session, program, name, input);
}

// The profile as collapsed stacks, `program;outer;inner STEPS` a line.
EMSCRIPTEN_KEEPALIVE const char* tolva_collapsed_stacks(Session* session) {
    std::ostringstream text;
    forth::write_collapsed_stacks(session->ctx, text);
    return forth::hand_over(*session, text.str());
}

// The profile by word, as JSON: {"steps": N, "rows": [{"name", "defined",
// "calls", "self", "total"}]}, the most self steps first.
EMSCRIPTEN_KEEPALIVE const char* tolva_profile_summary(Session* session) {
    const forth::ProfileSummary summary = forth::profile_summary(session->ctx);
    std::string& json = session->text;
    json = "{\"steps\":";
    forth::json_number(json, summary.steps);
    json += ",\"rows\":";
    forth::json_array(json, summary.rows, [](std::string& json, const forth::ProfileRow& row) {
        json += "{\"name\":";
        forth::json_string(json, row.name);
        forth::json_field(json, "defined", row.defined);
        forth::json_field(json, "calls", row.calls);
        forth::json_field(json, "self", row.self);
        forth::json_field(json, "total", row.total);
        json += '}';
    });
    json += '}';
    return json.c_str();
}

// The last evaluation's error report, "Domain error: unknown word - foo".
EMSCRIPTEN_KEEPALIVE const char* tolva_error(Session* session) { return session->outcome.report.c_str(); }

// What the last error means in plain words, as a terminal explains it;
// empty when its report says all there is.
EMSCRIPTEN_KEEPALIVE const char* tolva_error_explanation(Session* session) {
    return session->outcome.explanation.c_str();
}

// Where the last error happened, innermost first, as a JSON array of
// places (json_place); none when not known.
EMSCRIPTEN_KEEPALIVE const char* tolva_error_chain(Session* session) {
    std::string& json = session->text;
    json = "[";
    if (const auto& location = session->outcome.location) {
        forth::json_place(json, *location);
        for (const forth::Place& caller : location->callers) {
            json += ',';
            forth::json_place(json, caller);
        }
    }
    json += ']';
    return json.c_str();
}

// The lines of its input the last evaluation read with accept.
EMSCRIPTEN_KEEPALIVE int tolva_input_used(Session* session) { return static_cast<int>(session->input_used); }

// The word that closes the open construct; empty when none is open.
EMSCRIPTEN_KEEPALIVE const char* tolva_closing_word(Session* session) {
    return forth::hand_over(*session, std::string(forth::closing_word(session->ctx)));
}

// Where the open construct was opened, as a place (json_place); null when
// none is open.
EMSCRIPTEN_KEEPALIVE const char* tolva_construct_opened(Session* session) {
    std::string& json = session->text;
    json = "null";
    if (!forth::closing_word(session->ctx).empty()) {
        json.clear();
        forth::json_place(json, forth::construct_opened(session->ctx));
    }
    return json.c_str();
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
