#include "lsp/run.hpp"

#include <ctime>
#include <deque>
#include <sstream>
#include <stdexcept>

#include "app/shell_words.hpp"
#include "core/tables.hpp"
#include "engine/embed.hpp"

namespace forth::lsp {

namespace {

// Ends the run: bye, or the budget spent. No std::exception, so that
// catch_errors lets it through.
struct Stop {
    bool spent;
};

// A file that includes itself stops as tolva stops it.
constexpr int most_nested_files = 256;
// More blanks than this add nothing to what a run can find.
constexpr double most_blanks = 1000;

class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

}  // namespace

RunResult run_document(const std::string& uri, const std::string& text, const Loader& load, const Budget& budget) {
    Context ctx;
    load_builtins(ctx);
    add_shell_words(ctx);
    track_places(ctx);
    NullBuffer nothing;
    std::ostream silent(&nothing);
    std::istringstream no_input;
    ctx.out = &silent;
    ctx.err = &silent;
    ctx.in = &no_input;

    bool read_input = false;
    // Time is the processor's, so that a busy machine stops no run early.
    const std::clock_t deadline =
        std::clock() + static_cast<std::clock_t>(budget.time.count() * (CLOCKS_PER_SEC / 1000));
    set_poll_hook(ctx, [&](Context& polled) {
        if (std::clock() > deadline || polled.stack.size() > budget.values ||
            polled.buffer.size() > budget.values)
            throw Stop{true};
    });
    define_word(ctx, "bye", [](Context&) { throw Stop{false}; });
    define_word(ctx, "accept", [&read_input, accept = ctx.words["accept"]](Context& running) {
        read_input = true;
        accept(running);
    });
    define_word(ctx, "spaces", [spaces = ctx.words["spaces"]](Context& running) {
        if (!running.stack.empty() && running.stack.back() > most_blanks) running.stack.back() = most_blanks;
        spaces(running);
    });
    // Files are found beside the file that includes them, and only regular
    // files are read. `including` is the chain of files being run.
    std::deque<std::string> names;
    std::vector<std::string> including{uri};
    define_word(ctx, "included", [&](Context& running) {
        const std::string name = resolve_uri(including.back(), running.text);
        const std::optional<std::string> file = load(name);
        if (!file) throw std::runtime_error("can't open file");
        if (including.size() > most_nested_files) throw std::runtime_error("recursion too deep");
        std::istringstream lines(*file);
        names.push_back(name);
        including.push_back(name);
        try {
            evaluate_lines(running, lines, {names.back()});
        } catch (...) {
            including.pop_back();
            throw;
        }
        including.pop_back();
    });

    RunResult result;
    try {
        std::istringstream lines(text);
        const Outcome outcome = catch_errors(ctx, [&] { evaluate_lines(ctx, lines, {uri}); });
        if (!outcome.ok && !read_input) {
            result.error = outcome.location.value_or(ErrorLocation{});
            result.report = outcome.report;
        }
    } catch (const Stop& stop) {
        result.out_of_budget = stop.spent;
    }
    return result;
}

}  // namespace forth::lsp
