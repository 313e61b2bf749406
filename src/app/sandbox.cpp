#include "app/sandbox.hpp"

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine/embed.hpp"
#include "engine/evaluate.hpp"

namespace forth::sandbox {

namespace {

// What is left of a confined Context's budget: of calls and loop passes,
// and of tokens compiled, which the evaluator's ways of running lists do
// differently and so pay for apart, each way with room to spare.
struct Budget {
    std::size_t left = 0;
    std::size_t compiled_left = 0;
    std::size_t compiled = 0;  // tokens_compiled when last paid for

    void spend(std::size_t units) {
        if (units > left) throw Stop{};
        left -= units;
    }
    void spend_compiling(std::size_t tokens) {
        if (tokens > compiled_left) throw Stop{};
        compiled_left -= tokens;
    }
};

// Every list is a buffer once collected, and a call pays one unit however
// long its list: a longer buffer ends the input, so no call runs more.
constexpr std::size_t most_collected = 4096;

// The state that makes one step expensive: a long stack to print, a long
// buffer to join, a long text to print or alias.
std::size_t weight(const Context& ctx) { return (ctx.stack.size() + ctx.buffer.size() + ctx.text.size() / 16) / 64; }

// Every call and loop pass pays, and so do the tokens compiled since the last.
std::shared_ptr<Budget> limit(Context& ctx, std::size_t budget, std::size_t compiled_per_unit, bool weighed) {
    auto shared = std::make_shared<Budget>(Budget{budget, budget * compiled_per_unit, tokens_compiled(ctx)});
    set_poll_hook(ctx, [shared, weighed](Context& polled) {
        Budget& paying = *shared;
        if (weighed && polled.buffer.size() > most_collected) throw Stop{};
        paying.spend(1 + (weighed ? weight(polled) : 0));
        const std::size_t compiled = tokens_compiled(polled);
        paying.spend_compiling(compiled - paying.compiled);
        paying.compiled = compiled;
    });
    return shared;
}

void stop(Context&) { throw Stop{false}; }

void cannot_open(Context&) { throw std::runtime_error("can't open file"); }

// Wraps a word so that it pays for its work first. The wrapper may be
// replaced while the word runs, so it copies what it needs before calling.
Word paying(const std::shared_ptr<Budget>& budget, Word word, std::size_t (*cost)(const Context&)) {
    return [budget, word = std::move(word), cost](Context& ctx) {
        budget->spend(1 + cost(ctx));
        const Word original = word;
        original(ctx);
    };
}

std::size_t stack_cost(const Context& ctx) { return ctx.stack.size(); }
std::size_t buffer_cost(const Context& ctx) { return ctx.buffer.size(); }
std::size_t table_cost(const Context& ctx) { return ctx.words.size() + ctx.aliases.size(); }
std::size_t text_cost(const Context& ctx) { return ctx.text.size() / 64 + ctx.input.str().size() / 64; }

}  // namespace

void tame(Context& ctx, double most_blanks) {
    ctx.words["bye"] = stop;
    ctx.words["spaces"] = [most_blanks, spaces = ctx.words["spaces"]](Context& context) {
        double count = pop(context);
        if (count > most_blanks) count = most_blanks;
        push(context, count);
        spaces(context);
    };
}

void limit_steps(Context& ctx, std::size_t budget) { limit(ctx, budget, 100, false); }

void unlimit(Context& ctx) { set_poll_hook(ctx, nullptr); }

void confine(Context& ctx, std::size_t budget, std::size_t compiled_per_unit) {
    const std::shared_ptr<Budget> shared = limit(ctx, budget, compiled_per_unit, true);

    tame(ctx, 64);  // a screenful
    ctx.words["included"] = cannot_open;
    ctx.words[".s"] = paying(shared, ctx.words[".s"], stack_cost);
    ctx.words[".buffer"] = paying(shared, ctx.words[".buffer"], buffer_cost);
    for (const char* name : {"words", "aliases", "sigils"})
        ctx.words[name] = paying(shared, ctx.words[name], table_cost);
    for (const char* name : {"..", ".input"}) ctx.words[name] = paying(shared, ctx.words[name], text_cost);
    // Every use of an alias or a definition shown by ? rereads it whole.
    ctx.sigils['@'] = [make = ctx.sigils['@']](Context& context, const std::string& name) {
        if (context.text.size() > 256) throw Stop{};
        make(context, name);
    };
    ctx.sigils['?'] = [shared, show = ctx.sigils['?']](Context& context, const std::string& name) {
        shared->spend(1 + context.words.size() / 64);
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
            write_report(ctx, try_evaluate(ctx, line, {"<input>", number}), true, true);
        }
    } catch (const Stop&) {
        completed = false;  // bye, or the budget used up: the rest of the input is not run
    }
    unlimit(ctx);
    return completed;
}

}  // namespace forth::sandbox
