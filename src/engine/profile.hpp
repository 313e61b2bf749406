#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/context.hpp"

// Where a run's work goes: every call of a word defined in the language,
// counted by the stack of calls it was made in, and the steps the engine
// took in each. A step is one instruction of compiled code, or one token
// run one at a time, so a profile is the same on every machine and build.
namespace forth {

// Counts from now on, in a profile that starts empty; the top level is the
// frame named `root`, under which every stack begins.
void start_profile(Context& ctx, std::string root);
bool profiling(Context& ctx);

// The profile so far as collapsed stacks: one line per stack that took
// steps, `root;outer;inner STEPS`, outermost first.
void write_collapsed_stacks(Context& ctx, std::ostream& out);

// One word's share: its calls, the steps taken in it (self) and in it and
// what it called, counted once however often it recurses (total).
struct ProfileRow {
    std::string name;
    std::string defined;  // where its body was read, when places are tracked
    std::uint64_t calls = 0;
    std::uint64_t self = 0;
    std::uint64_t total = 0;
};
struct ProfileSummary {
    std::uint64_t steps = 0;
    std::vector<ProfileRow> rows;  // the most self steps first
};
ProfileSummary profile_summary(Context& ctx);

}  // namespace forth
