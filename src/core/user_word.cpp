#include "core/user_word.hpp"

#include "core/interpreter.hpp"

namespace forth {

void UserWord::operator()(Context& ctx) const {
    // The body may replace this very word while it runs; the copy keeps the
    // tokens still to run alive and unchanged.
    const TokenList snapshot = body;
    run(ctx, snapshot);
}

void run(Context& ctx, const TokenList& tokens) {
    for (const std::string& token : tokens) resolve(ctx, token);
}

}  // namespace forth
