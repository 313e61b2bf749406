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

}  // namespace forth
