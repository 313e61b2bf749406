// libFuzzer target: the input is source text, evaluated line by line on a
// fresh interpreter the way the interactive loop does it.
//
// A few words do unbounded work by design (bye ends the process, included
// opens any file, spaces and the loops run as long as asked). Here, and only
// here, their dictionary entries are replaced, and every word and sigil
// spends from a per-input work budget, so that one input ends in bounded
// time and memory. The shipped vocabulary is not changed.

#include <sys/resource.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "app/error_report.hpp"
#include "app/shell_words.hpp"
#include "core/interpreter.hpp"
#include "core/user_word.hpp"
#include "words/control.hpp"

namespace tolva_fuzz {

namespace {

using forth::Context;
using forth::SigilHandler;
using forth::Word;

// Discards everything written to it and reads as an empty input.
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type character) override { return traits_type::not_eof(character); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

NullBuffer null_buffer;

// Ends the current input: bye, or the budget used up. Not derived from
// std::exception, so report_errors lets it through to the harness.
struct Stop {};

// A unit is one token run, one list element copied or printed, or up to
// text_unit bytes of text hashed or copied. 100,000 keep the slowest inputs
// well under a second with the sanitizers on.
constexpr std::size_t budget_per_input = 100'000;
constexpr std::size_t text_unit = 256;
std::size_t budget = 0;

void spend(std::size_t units) {
    if (units > budget) throw Stop{};
    budget -= units;
}

std::size_t list_cost(const forth::TokenList& list) {
    std::size_t cost = list.size();
    for (const std::string& token : list) cost += token.size() / text_unit;
    return cost;
}

using Hook = void (*)(Context&);
using SigilHook = void (*)(Context&, const std::string&);

void spend_one(Context&) { spend(1); }
void spend_stack(Context& ctx) { spend(1 + ctx.stack.size()); }
void spend_buffer(Context& ctx) { spend(1 + list_cost(ctx.buffer)); }
void spend_quotation(Context& ctx) { spend(1 + list_cost(ctx.quotation)); }
void spend_words(Context& ctx) { spend(1 + ctx.words.size()); }
void spend_aliases(Context& ctx) { spend(1 + ctx.aliases.size()); }
void spend_definition(Context& ctx) { spend(1 + list_cost(ctx.buffer) + ctx.text.size() / text_unit); }

// More blanks than a screen holds add nothing but time. NaN stays NaN so
// that its error is still reached.
void clamp_spaces(Context& ctx) {
    spend(1);
    constexpr double most_blanks = 64;
    double count = forth::pop(ctx);
    if (count > most_blanks) count = most_blanks;
    forth::push(ctx, count);
}

// A user word runs its whole body at every call without passing through a
// word of the harness, so a chain of definitions could multiply the work
// unseen. A first token that spends the body's size puts every call on the
// budget, and the word stays a UserWord for ' and ?. Names with a blank in
// them cannot come from the input.
void charge_calls(Context& ctx, const std::string& name) {
    auto& body = ctx.words[name].target<forth::UserWord>()->body;
    const std::size_t cost = 1 + list_cost(body);
    const std::string marker = " spend " + std::to_string(cost);
    ctx.words.try_emplace(marker, [cost](Context&) { spend(cost); });
    body.insert(body.begin(), marker);
}

void charge_definition(Context& ctx) { charge_calls(ctx, ctx.text); }

void nothing(Context&) {}

// Before each call, a word spends one unit plus what it is about to copy,
// print or run.
Hook spending_hook(const std::string& name) {
    static const std::unordered_map<std::string_view, Hook> hooks = {
        {".s", spend_stack},          {"words", spend_words},         {"aliases", spend_aliases},
        {"]", spend_buffer},          {"}", spend_buffer},            {")", spend_buffer},
        {";", spend_definition},      {".buffer", spend_buffer},      {"execute", spend_quotation},
        {"iftrue", spend_quotation},  {"iffalse", spend_quotation},   {"while", spend_quotation},
        {"until", spend_quotation},   {"spaces", clamp_spaces},
    };
    const auto hook = hooks.find(name);
    return hook == hooks.end() ? spend_one : hook->second;
}

// The wrapper may be replaced while it runs (a definition of the word's own
// name inside it), so nothing of it is touched once the original has been
// called: the hook is copied first, and the local pointer keeps the original
// alive.
Word wrap_word(Word original, Hook before, Hook after) {
    auto shared = std::make_shared<const Word>(std::move(original));
    return [shared = std::move(shared), before, after](Context& ctx) {
        const std::shared_ptr<const Word> word = shared;
        const Hook then = after;
        before(ctx);
        (*word)(ctx);
        then(ctx);
    };
}

std::size_t body_cost(const Context& ctx, const std::string& name) {
    const auto word = ctx.words.find(name);
    if (word == ctx.words.end()) return 0;
    const auto* user_word = word->second.target<forth::UserWord>();
    return user_word == nullptr ? 0 : list_cost(user_word->body);
}

void spend_one_for(Context&, const std::string&) { spend(1); }
void spend_named_body(Context& ctx, const std::string& name) { spend(1 + body_cost(ctx, name)); }
void spend_quotation_for(Context& ctx, const std::string&) { spend(1 + list_cost(ctx.quotation)); }
void nothing_for(Context&, const std::string&) {}

// Every use of an alias rereads it whole, and no word of the harness sees
// that, so an alias may be no longer than one unit of text.
void limit_alias(Context& ctx, const std::string&) {
    if (ctx.text.size() > text_unit) throw Stop{};
    spend(1);
}

// The sigil table never changes, so the handlers need none of the care of
// wrap_word.
SigilHandler wrap_sigil(char sigil, SigilHandler original) {
    SigilHook before = spend_one_for;
    SigilHook after = nothing_for;
    if (sigil == '\'' || sigil == '?') before = spend_named_body;
    if (sigil == '@') before = limit_alias;
    if (sigil == '/') {
        before = spend_quotation_for;
        after = charge_calls;
    }
    return [original = std::move(original), before, after](Context& ctx, const std::string& name) {
        before(ctx, name);
        original(ctx, name);
        after(ctx, name);
    };
}

void stop_input(Context&) { throw Stop{}; }

void cannot_open(Context&) { throw std::runtime_error("can't open file"); }

// Both loops spend for the copies they make, then for every pass.
void bounded_times(Context& ctx) {
    const std::size_t pass_cost = 1 + list_cost(ctx.quotation);
    spend(pass_cost);
    forth::times_loop(ctx, [pass_cost] { spend(pass_cost); });
}

void bounded_repeat(Context& ctx) {
    const std::size_t pass_cost = 1 + list_cost(ctx.loop_body) + list_cost(ctx.quotation);
    spend(pass_cost);
    forth::repeat_loop(ctx, [pass_cost] { spend(pass_cost); });
}

void neutralise(Context& ctx) {
    for (auto& [name, word] : ctx.words) {
        word = wrap_word(std::move(word), spending_hook(name), name == ";" ? charge_definition : nothing);
    }
    for (auto& [sigil, handler] : ctx.sigils) handler = wrap_sigil(sigil, std::move(handler));
    ctx.words["bye"] = stop_input;
    ctx.words["included"] = cannot_open;
    ctx.words["times"] = bounded_times;
    ctx.words["repeat"] = bounded_repeat;
}

}  // namespace

}  // namespace tolva_fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Runaway recursion ends at the stack guard, which measures the stack
    // at its first use. Filling and unwinding 8 MiB of sanitizer frames
    // takes tens of milliseconds; 1 MiB still allows over a thousand levels
    // and reaches the same guard eight times sooner.
    rlimit stack{};
    getrlimit(RLIMIT_STACK, &stack);
    stack.rlim_cur = std::min<rlim_t>(stack.rlim_cur, rlim_t{1} << 20);
    setrlimit(RLIMIT_STACK, &stack);

    std::cin.rdbuf(&tolva_fuzz::null_buffer);
    std::cout.rdbuf(&tolva_fuzz::null_buffer);
    std::cerr.rdbuf(&tolva_fuzz::null_buffer);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    forth::Context ctx;
    forth::load_builtins(ctx);
    forth::add_shell_words(ctx);
    tolva_fuzz::neutralise(ctx);
    tolva_fuzz::budget = tolva_fuzz::budget_per_input;

    std::istringstream source(std::string(reinterpret_cast<const char*>(data), size));
    std::string line;
    try {
        while (std::getline(source, line)) forth::report_errors([&] { forth::evaluate(ctx, line); });
    } catch (const tolva_fuzz::Stop&) {
        // bye, or the budget used up: the rest of the input is not run.
    }
    return 0;
}
