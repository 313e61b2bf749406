#pragma once

#include <string>
#include <vector>

#include "core/context.hpp"

namespace forth {

// Picks one action from args[1] and returns the process exit status.
int run_command_line(Context& ctx, const std::vector<std::string>& args);

}  // namespace forth
