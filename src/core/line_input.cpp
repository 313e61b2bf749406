#include "core/line_input.hpp"

#include <iostream>
#include <utility>

namespace forth {

namespace {

LineSource& line_source() {
    static LineSource source;
    return source;
}

}  // namespace

bool read_line(std::string& line) {
    if (const LineSource& source = line_source()) return source(line);
    return static_cast<bool>(std::getline(std::cin, line));
}

void set_line_source(LineSource source) { line_source() = std::move(source); }

}  // namespace forth
