#include "core/line_input.hpp"

#include <iostream>

namespace forth {

bool read_line(std::string& line) { return static_cast<bool>(std::getline(std::cin, line)); }

}  // namespace forth
