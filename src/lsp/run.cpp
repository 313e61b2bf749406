#include "lsp/run.hpp"

#include <chrono>
#include <ctime>
#include <deque>
#include <sstream>
#include <stdexcept>

#include "app/sandbox.hpp"
#include "app/shell_words.hpp"
#include "core/tables.hpp"
#include "engine/embed.hpp"

namespace forth::lsp {

namespace {

// More blanks than this add nothing to what a run can find.
constexpr double most_blanks = 1000;

// Time is the processor's, so that a busy machine stops no run early. Under
// emscripten std::clock counts microseconds of the wall clock in 32 bits,
// which wrap 36 minutes after its first call, and no processor time is
// kept: the page's worker measures on the steady clock.
std::chrono::microseconds now() {
#ifdef __EMSCRIPTEN__
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch());
#else
    return std::chrono::microseconds(std::clock() * (1'000'000 / CLOCKS_PER_SEC));
#endif
}

}  // namespace

RunResult run_document(const std::string& uri, const std::string& text, const Loader& load, const Budget& budget) {
    Context ctx;
    load_builtins(ctx);
    add_shell_words(ctx);
    track_places(ctx);
    sandbox::NullBuffer nothing;
    std::ostream silent(&nothing);
    std::istringstream no_input;
    ctx.out = &silent;
    ctx.err = &silent;
    ctx.in = &no_input;

    bool read_input = false;
    const auto deadline = now() + budget.time;
    set_poll_hook(ctx, [&](Context& polled) {
        if (now() > deadline || polled.stack.size() > budget.values ||
            polled.buffer.size() > budget.values)
            throw sandbox::Stop{};
    });
    sandbox::tame(ctx, most_blanks);
    define_word(ctx, "accept", [&read_input, accept = ctx.words["accept"]](Context& running) {
        read_input = true;
        accept(running);
    });
    // Files are found as the analysis finds them (load_included), and only
    // regular files are read. `including` is the chain of files being run.
    std::deque<std::string> names;
    std::vector<std::string> including{uri};
    define_word(ctx, "included", [&](Context& running) {
        const std::optional<Included> file = load_included(load, including.back(), uri, running.text);
        if (!file) throw std::runtime_error("can't open file");
        if (including.size() > most_nested_files) throw std::runtime_error("recursion too deep");
        std::istringstream lines(file->text);
        names.push_back(file->uri);
        including.push_back(file->uri);
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
    } catch (const sandbox::Stop& stop) {
        result.out_of_budget = stop.spent;
    }
    return result;
}

}  // namespace forth::lsp
