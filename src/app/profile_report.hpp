#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "engine/profile.hpp"

namespace forth {

// With TOLVA_PROFILE set and not empty, profiles the run under `root` (the
// program's name) for finish_profile to write to the file it names. The
// file is emptied at once, so that one that cannot be written is said
// before the run, which then goes on unprofiled.
void profile_if_wanted(Context& ctx, std::string root);

// At exit, once: the collapsed stacks to the file, and the summary on
// standard error. `status`, or status_failed when it was status_ok and the
// profile could not be written.
int finish_profile(Context& ctx, int status);

// The summary: the steps and where the stacks went, then the words that
// took the most steps themselves, at most `most`: their calls, their own
// share of the run and the share of what they called with it, and where
// they were defined, when known.
void write_profile_summary(std::ostream& out, const ProfileSummary& summary, std::string_view file,
                           std::size_t most = 20);

}  // namespace forth
