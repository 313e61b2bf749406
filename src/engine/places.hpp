#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/evaluator.hpp"

// Where the tokens running were read: the frames read as places, while
// places are tracked (Evaluator::tracking).
namespace forth {

// Where the token of `state` that begins at `at` was read.
Origin text_origin(TextState& state, std::size_t at);

// The place of `origin` in `state`'s sources, for `token`.
Place place_of(const Evaluator& state, Origin origin, std::string_view token);

// Where the token running in the innermost frame that runs one was read.
Origin running_origin(Evaluator& state);

// A construct has just opened: notes where, for the warning of one left open.
void note_opened(Evaluator& state);

// The tokens running, innermost first, each where it was read: the one the
// top frame runs, then the call that led to it, and so on out. The same
// call repeated is one place with its count; past 24 places only the
// outermost is kept, after a place for those left out (Place::left_out).
// It walks every frame: for an error, once.
std::vector<Place> running_chain(Evaluator& state);

// The same from at most the `most` innermost calls, then a place for any
// left out and the outermost: in time independent of the depth, for what
// is kept at every token.
std::vector<Place> recent_calls(Evaluator& state, std::size_t most);

// The token the top frame runs, and how many calls deep it runs.
Place running_token(Evaluator& state);
std::size_t call_depth(const Evaluator& state);

}  // namespace forth
