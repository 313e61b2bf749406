#pragma once

#include <cstdint>

#include "core/code.hpp"

namespace forth {

// Makes `step`, just looked up from the token at `index` of `node`, stand
// for the tokens after it that it runs as one: a whole construct closed
// within the list (and a control word right after a whole quote), or a run
// of steps on the top of the stack. `previous` is what the step was before,
// whose collected tokens a construct keeps.
void fuse(Context& ctx, const ListNode& node, std::uint32_t index, Step& step, const Step& previous);

// True when `step`, looked up from the token at `index` of `node`, is a dup
// that a whole quote right after it may take in, with the control word after
// the quote (see fuse_copy).
bool copies_before_quote(Context& ctx, const ListNode& node, std::uint32_t index, const Step& step);

// Makes `step`, such a dup, stand for itself and `quote`, the step of the
// tokens after it, when that is a whole quote with iftrue or iffalse: the
// if-else idiom's copy of the flag, tested by one step.
void fuse_copy(Step& step, const Step& quote);

}  // namespace forth
