#include "core/user_word.hpp"

#include "engine/evaluate.hpp"

namespace forth {

// run holds the body for the whole call, so the word may replace itself.
void UserWord::operator()(Context& ctx) const { run(ctx, body); }

}  // namespace forth
