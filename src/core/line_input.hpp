#pragma once

#include <string>

namespace forth {

// Reads the next line of standard input, without its newline, into `line`.
// Returns false when nothing could be read. Every line the interactive loop
// or accept takes from the user comes through here.
bool read_line(std::string& line);

}  // namespace forth
