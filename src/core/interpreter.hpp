#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace forth {

// How many token lists and texts may run inside one another: word calls,
// the lists run by control words and execute, texts run by interpret. One
// more is the error "recursion too deep". The same in every build and under
// every stack size, since the nesting lives in Runtime::frames.
inline constexpr std::size_t max_depth = 1'000'000;

// How many times native code may re-enter the evaluator inside itself (a
// closing word defined to close its own construct, a file that includes
// another): each time costs the machine's own stack, so the stack guard may
// stop it sooner when that stack is small.
inline constexpr std::size_t max_reentry = 10'000;

// Where a text stood when an error left it: the offsets of the token running
// at its top level, which ends past 0 once a token has begun.
struct TextPosition {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Runs every white-space separated token of `source` until a lone backslash.
// When an error leaves it after a token began, `failed_at` (if given) is set
// to where the text stood.
void evaluate(Context& ctx, const std::string& source, TextPosition* failed_at = nullptr);

// The single road of a token: collect it into an open construct, or run it
// as an alias, a word, a sigil followed by a name, or a number to push.
void resolve(Context& ctx, const std::string& token, bool expand_aliases = true);

// Resolves each token of `tokens` in order. The list is held for the whole
// run, so a token that replaces the Context member it came from never
// changes the rest of this run.
void run(Context& ctx, const TokenList& tokens);

// The list calls of the built-in control words: each runs its list(s) to
// the end, or, called by the evaluator as a word's last act, leaves them to
// the evaluator as a frame.
void call_list(Context& ctx, TokenList list);
void call_times(Context& ctx, TokenList body, std::int32_t passes);
void call_repeat(Context& ctx, TokenList body, TokenList condition, double stop);
void call_text(Context& ctx, std::string text);

// Add or replace a word or an alias. Every change to the dictionary or the
// alias table goes through these (or is followed by note_change), so that
// compiled token lists look their tokens up again.
void define_word(Context& ctx, const std::string& name, Word word);
void define_alias(Context& ctx, const std::string& name, std::string replacement);
void note_change(Context& ctx);
void note_change(Context& ctx, const std::string& name);

// Fills a fresh Context with the built-in words, sigils and aliases.
void load_builtins(Context& ctx);

}  // namespace forth
