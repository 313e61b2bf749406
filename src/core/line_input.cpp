#include "core/line_input.hpp"

#include <istream>
#include <utility>

namespace forth {

namespace {

LineSource& line_source() {
    static LineSource source;
    return source;
}

}  // namespace

bool read_line(Context& ctx, std::string& line) {
    if (const LineSource& source = line_source()) return source(line);
    return static_cast<bool>(std::getline(*ctx.in, line));
}

void set_line_source(LineSource source) { line_source() = std::move(source); }

}  // namespace forth
