#pragma once

#include <string_view>

#include "engine/embed.hpp"

namespace forth {

// Writes the report of a failed outcome on the Context's error stream (see
// write_report), with where the error happened when the environment
// variable TOLVA_WHERE is set and not empty. True for a success.
bool report_outcome(Context& ctx, const Outcome& outcome);

// Whether TOLVA_WHERE asks for where errors happened.
bool locations_wanted();

// When locations are wanted and a construct is still open after `source`
// ran, says so on the error stream: which construct, and where it opened.
void warn_if_left_open(Context& ctx, std::string_view source);

}  // namespace forth
