#include "sandbox.hpp"

#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine/embed.hpp"
#include "engine/evaluate.hpp"
#include "core/trap.hpp"

namespace forth::sandbox {

namespace {

Context* confined = nullptr;
std::size_t budget_left = 0;

void spend(std::size_t units) {
    if (units > budget_left) throw Stop{};
    budget_left -= units;
}

// The state that makes one step expensive: a long stack to print, a long
// buffer to join, a long text to print or alias.
std::size_t weight(const Context& ctx) { return (ctx.stack.size() + ctx.buffer.size() + ctx.text.size() / 16) / 64; }

// Every call and loop pass polls for an interrupt; here each one pays.
void on_poll() {
    spend(1 + (confined != nullptr ? weight(*confined) : 0));
    request_interrupt();
}

void stop(Context&) { throw Stop{}; }

void cannot_open(Context&) { throw std::runtime_error("can't open file"); }

// Wraps a word so that it pays for its work first. The wrapper may be
// replaced while the word runs, so it copies what it needs before calling.
Word paying(Word word, std::size_t (*cost)(const Context&)) {
    return [word = std::move(word), cost](Context& ctx) {
        spend(1 + cost(ctx));
        const Word original = word;
        original(ctx);
    };
}

std::size_t stack_cost(const Context& ctx) { return ctx.stack.size(); }
std::size_t buffer_cost(const Context& ctx) { return ctx.buffer.size(); }
std::size_t table_cost(const Context& ctx) { return ctx.words.size() + ctx.aliases.size(); }
std::size_t text_cost(const Context& ctx) { return ctx.text.size() / 64 + ctx.input.str().size() / 64; }

// More blanks than a screen holds add nothing but time. NaN stays NaN so
// that its error is still reached.
void clamped_spaces(Context& ctx, const Word& spaces) {
    constexpr double most_blanks = 64;
    double count = pop(ctx);
    if (count > most_blanks) count = most_blanks;
    push(ctx, count);
    spaces(ctx);
}

}  // namespace

void limit_steps(std::size_t budget) {
    budget_left = budget;
    interrupt_handler = on_poll;
    request_interrupt();
}

void unlimit() {
    interrupt_requested = 0;
    interrupt_handler = nullptr;
    confined = nullptr;
}

void confine(Context& ctx, std::size_t budget) {
    limit_steps(budget);
    confined = &ctx;

    ctx.words["bye"] = stop;
    ctx.words["included"] = cannot_open;
    ctx.words["spaces"] = [spaces = ctx.words["spaces"]](Context& context) { clamped_spaces(context, spaces); };
    ctx.words[".s"] = paying(ctx.words[".s"], stack_cost);
    ctx.words[".buffer"] = paying(ctx.words[".buffer"], buffer_cost);
    for (const char* name : {"words", "aliases", "sigils"}) ctx.words[name] = paying(ctx.words[name], table_cost);
    for (const char* name : {"..", ".input"}) ctx.words[name] = paying(ctx.words[name], text_cost);
    // Every use of an alias or a definition shown by ? rereads it whole.
    ctx.sigils['@'] = [make = ctx.sigils['@']](Context& context, const std::string& name) {
        if (context.text.size() > 256) throw Stop{};
        make(context, name);
    };
    ctx.sigils['?'] = [show = ctx.sigils['?']](Context& context, const std::string& name) {
        spend(1 + context.words.size() / 64);
        show(context, name);
    };
    note_change(ctx);
}

bool run_lines(Context& ctx, std::string_view source) {
    std::istringstream lines{std::string(source)};
    bool completed = true;
    try {
        std::size_t number = 1;
        for (std::string line; std::getline(lines, line); ++number) {
            write_report(ctx, try_evaluate(ctx, line, {"<input>", number}), true);
        }
    } catch (const Stop&) {
        completed = false;  // bye, or the budget used up: the rest of the input is not run
    }
    unlimit();
    return completed;
}

}  // namespace forth::sandbox
