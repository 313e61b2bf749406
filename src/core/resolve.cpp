#include <cerrno>
#include <cstdlib>

#include "core/interpreter.hpp"
#include "core/interrupt.hpp"
#include "core/stack_guard.hpp"

namespace forth {

namespace {

void push_number(Context& ctx, const std::string& token) {
    const char* const start = token.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(start, &end);
    if (end == start) throw std::domain_error("unknown word - " + token);
    if (errno == ERANGE) throw std::out_of_range("stod");
    push(ctx, value);
}

}  // namespace

void resolve(Context& ctx, const std::string& token, bool expand_aliases) {
    check_stack_depth();
    poll_interrupt();

    if (!ctx.terminator.empty()) {
        if (token == ctx.terminator) {
            // Looked up by name each time, so a redefined closing word runs instead.
            ctx.words[ctx.terminator](ctx);
            ctx.terminator.clear();
        } else {
            ctx.buffer.push_back(token);
        }
        return;
    }

    if (expand_aliases) {
        if (const auto alias = ctx.aliases.find(token); alias != ctx.aliases.end()) {
            resolve(ctx, alias->second, false);
            return;
        }
    }

    if (const auto word = ctx.words.find(token); word != ctx.words.end()) {
        word->second(ctx);
        return;
    }

    // token[0] of an empty token is its terminating NUL, which is no sigil.
    if (const auto sigil = ctx.sigils.find(token[0]); sigil != ctx.sigils.end()) {
        sigil->second(ctx, token.substr(1));
        return;
    }

    push_number(ctx, token);
}

}  // namespace forth
