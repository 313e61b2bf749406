#pragma once

#include <string>

#include "core/context.hpp"

namespace forth {

// Evaluates the named file line by line. False if it cannot be opened;
// errors from its lines pass through, and a read error is one too.
bool include_file(const std::string& name, Context& ctx);

// include_file, with an error from the file reported on standard error
// (and false returned) instead of thrown.
bool include_and_report(const std::string& name, Context& ctx);

// The word `included`: includes the file named by the text register.
void included(Context& ctx);

}  // namespace forth
