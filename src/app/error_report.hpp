#pragma once

#include "engine/embed.hpp"

namespace forth {

// Writes the report of a failed outcome on the Context's error stream (see
// write_report), with where the error happened when the environment
// variable TOLVA_WHERE is set and not empty. True for a success.
bool report_outcome(Context& ctx, const Outcome& outcome);

}  // namespace forth
