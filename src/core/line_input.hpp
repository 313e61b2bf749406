#pragma once

#include <functional>
#include <string>
#include <utility>

#include "core/context.hpp"

namespace forth {

// Fills `line` with the next line, without its newline; false when nothing
// could be read.
using LineSource = std::function<bool(std::string& line)>;

// Reads the next line the user gives. Every line the interactive loop or
// accept takes from the user comes through here: from the Context's input
// stream, or from the source set below.
bool read_line(Context& ctx, std::string& line);

// Routes read_line in `ctx` through `source` (a line editor on a terminal,
// say); an empty source restores the Context's input stream.
inline void set_line_source(Context& ctx, LineSource source) { ctx.line_source = std::move(source); }

}  // namespace forth
