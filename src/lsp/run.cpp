#include "lsp/run.hpp"

#include <chrono>
#include <ctime>
#include <deque>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "app/sandbox.hpp"
#include "app/shell_words.hpp"
#include "core/tables.hpp"
#include "engine/embed.hpp"
#include "lsp/heap.hpp"

namespace forth::lsp {

namespace {

// More blanks than this add nothing to what a run can find.
constexpr double most_blanks = 1000;

// Time is the processor's, on the thread that runs, so that a busy machine
// (or the thread that reads the client's messages) stops no run early.
// Under emscripten std::clock counts microseconds of the wall clock in 32
// bits, which wrap 36 minutes after its first call, and no processor time
// is kept: the page's worker measures on the steady clock.
std::chrono::microseconds now() {
#if defined(__EMSCRIPTEN__)
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch());
#elif defined(CLOCK_THREAD_CPUTIME_ID)
    timespec spent{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &spent);
    return std::chrono::seconds(spent.tv_sec) + std::chrono::microseconds(spent.tv_nsec / 1000);
#else
    return std::chrono::microseconds(std::clock() * (1'000'000 / CLOCKS_PER_SEC));
#endif
}

// Runs `text` a line at a time, as evaluate_lines runs a program file, but
// reading it in place and checking the budget before each line, as long as
// the line before it: a line of plain tokens (numbers, say) makes no call
// and passes no loop, so no poll would see what it left.
template <typename Check>
void run_text(Context& ctx, std::string_view text, std::string_view name, const Check& check) {
    std::size_t begin = 0;
    for (std::size_t number = 1; begin < text.size(); ++number) {
        const std::size_t end = std::min(text.find('\n', begin), text.size());
        evaluate_source(ctx, std::string(text.substr(begin, end - begin)), {name, number});
        check(ctx, end - begin);
        begin = end + 1;
    }
}

// Reading the clock is a system call, which a short line or word would
// spend most of its time on: lines and the words checked read it once
// their work since it was last read (bytes of lines, and the sizes of the
// text register, buffer, stack and tables the words went through) passes
// this; the rest of the budget they check every time.
constexpr std::size_t work_per_reading = std::size_t{1} << 14;

// The wall clock as cheaply as it can be read: on Linux a coarse clock
// that ticks every 1 to 10 ms and costs a few nanoseconds, not the few
// dozen of the steady clock.
std::chrono::nanoseconds wall_now() {
#if defined(CLOCK_MONOTONIC_COARSE) && !defined(__EMSCRIPTEN__)
    timespec at{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &at);
    return std::chrono::seconds(at.tv_sec) + std::chrono::nanoseconds(at.tv_nsec);
#else
    return std::chrono::steady_clock::now().time_since_epoch();
#endif
}

// When the poll hook reads the processor's clock and asks whether the run
// is cancelled. A poll (a call, a pass of a loop) may cost a few dozen
// nanoseconds and a reading some hundreds, so the hook looks at the wall
// clock once every polls_per_look polls, and reads once a millisecond has
// passed since the last reading (on a coarse clock, at its next tick). A
// count of polls alone would not do: a run that went from short passes to
// long ones (a body of a million tokens) would run thousands of them
// between readings.
class Pacer {
public:
    bool due() {
        if (--left_ != 0) return false;
        left_ = polls_per_look;
        const std::chrono::nanoseconds at = wall_now();
        if (at - last_ < reading_interval) return false;
        last_ = at;
        return true;
    }

private:
    static constexpr int polls_per_look = 16;
    static constexpr std::chrono::milliseconds reading_interval{1};
    int left_ = 1;
    std::chrono::nanoseconds last_{};
};

// What the words checked may go through: some or all of it.
std::size_t work_of(const Context& ctx) {
    return ctx.text.size() + ctx.buffer.size() + ctx.stack.size() + ctx.words.size() + ctx.aliases.size();
}

// The words that, run at the top level of a line, where nothing polls, do
// work or keep memory in proportion to the text register, the buffer, the
// stack or the dictionary: each checks the budget first, so that a line of
// them ends once it is spent. `)` and `;` copy or hash the buffer or the
// text, and `@` keeps a copy of the text under each new name: common
// words, which read the clock as their work adds up. The printing words
// print to nowhere, but take their time: rare, they read it every time.
constexpr const char* weighed_words[] = {")", ";"};
constexpr char weighed_sigils[] = {'@'};
constexpr const char* printing_words[] = {"..", ".s", ".buffer", ".input", "words", "sigils", "aliases"};
constexpr char printing_sigils[] = {'?'};

}  // namespace

RunResult run_document(const std::string& uri, const std::string& text, const Loader& load, const Budget& budget) {
    // Made first, so that all the run makes is counted.
    const heap::Meter meter;
    enum class Why { none, time, stack, buffer, memory, out_of_memory, cancelled } why = Why::none;
    const auto deadline = now() + budget.time;
    // What of the budget is spent: with `reading`, the clock and the
    // cancellation too, which cost more than the rest.
    const auto spent = [&](const Context& running, bool reading) {
        if (reading && now() > deadline) return Why::time;
        if (running.stack.size() > budget.values) return Why::stack;
        if (running.buffer.size() > budget.values) return Why::buffer;
        if (meter.held() + running.stack.capacity() * sizeof(double) > budget.memory) return Why::memory;
        if (reading && budget.cancelled && budget.cancelled()) return Why::cancelled;
        return Why::none;
    };
    const auto stop_if = [&](Why found) {
        if (found == Why::none) return;
        why = found;
        throw sandbox::Stop{};
    };
    // All of the budget.
    const auto check = [&](const Context& running) { stop_if(spent(running, true)); };
    // After a line or before a word checked, which did `done` work: the
    // clock and the cancellation once in a while, the rest every time.
    std::size_t work = 0;
    const auto check_work = [&](const Context& running, std::size_t done) {
        work += done + 1;
        const bool reading = work >= work_per_reading;
        if (reading) work = 0;
        stop_if(spent(running, reading));
    };
    // At every call and pass of a loop: likewise, paced.
    Pacer pacer;
    const auto check_poll = [&](const Context& running) { stop_if(spent(running, pacer.due())); };

    RunResult result;
    {
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
        set_poll_hook(ctx, [&check_poll](Context& polled) { check_poll(polled); });
        sandbox::tame(ctx, most_blanks);
        // A wrapper may be replaced while its word runs (`( ; ) ;` defines
        // `;`), so it copies what it calls and touches nothing of itself after.
        const auto check_word = [&](const Word& word, bool printing) -> Word {
            return [&check, &check_work, word, printing](Context& running) {
                printing ? check(running) : check_work(running, work_of(running));
                const Word original = word;
                original(running);
            };
        };
        const auto check_sigil = [&](const SigilHandler& handler, bool printing) -> SigilHandler {
            return [&check, &check_work, handler, printing](Context& running, const std::string& name) {
                printing ? check(running) : check_work(running, work_of(running));
                const SigilHandler original = handler;
                original(running, name);
            };
        };
        for (const char* name : weighed_words) define_word(ctx, name, check_word(ctx.words.at(name), false));
        for (const char* name : printing_words) define_word(ctx, name, check_word(ctx.words.at(name), true));
        for (const char sigil : weighed_sigils) ctx.sigils[sigil] = check_sigil(ctx.sigils.at(sigil), false);
        for (const char sigil : printing_sigils) ctx.sigils[sigil] = check_sigil(ctx.sigils.at(sigil), true);
        note_change(ctx);
        define_word(ctx, "accept", [&read_input, accept = ctx.words["accept"]](Context& running) {
            read_input = true;
            accept(running);
        });
        // Files are found as the analysis finds them (load_included), and only
        // regular files are read. `including` is the chain of files being run.
        std::deque<std::string> names;
        std::vector<std::string> including{uri};
        define_word(ctx, "included", [&](Context& running) {
            check(running);
            const std::optional<Included> file = load_included(load, including.back(), uri, running.text);
            if (!file) throw std::runtime_error("can't open file");
            if (including.size() > most_nested_files) throw std::runtime_error("recursion too deep");
            names.push_back(file->uri);
            including.push_back(file->uri);
            try {
                run_text(running, file->text, names.back(), check_work);
            } catch (...) {
                including.pop_back();
                throw;
            }
            including.pop_back();
        });

        try {
            const Outcome outcome = catch_errors(ctx, [&] { run_text(ctx, text, uri, check_work); });
            // The machine's memory ran out before the budget did: the run
            // is stopped as by the budget, not failed as by the program.
            if (!outcome.ok && outcome.report == error_report(std::bad_alloc())) {
                why = Why::out_of_memory;
            } else if (!outcome.ok && !read_input) {
                result.error = outcome.location.value_or(ErrorLocation{});
                result.report = outcome.report;
                result.explanation = outcome.explanation;
            }
        } catch (const sandbox::Stop&) {
            // bye, or the budget spent: `why` tells which.
        }
    }
    switch (why) {
        case Why::none:
            break;
        case Why::cancelled:
            result.cancelled = true;
            break;
        case Why::time:
            result.out_of_budget = true;
            result.stopped_by = "its budget of " + std::to_string(budget.time.count()) + " ms of processor time";
            break;
        case Why::stack:
            result.out_of_budget = true;
            result.stopped_by = "its budget of " + std::to_string(budget.values) + " values on the stack";
            break;
        case Why::buffer:
            result.out_of_budget = true;
            result.stopped_by = "its budget of " + std::to_string(budget.values) + " tokens in the buffer";
            break;
        case Why::memory:
            result.out_of_budget = true;
            result.stopped_by = "its budget of " + std::to_string(budget.memory >> 20) + " MiB of memory";
            break;
        case Why::out_of_memory:
            result.out_of_budget = true;
            result.stopped_by = "the machine's memory running out";
            break;
    }
    return result;
}

}  // namespace forth::lsp
