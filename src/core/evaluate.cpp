#include <sstream>

#include "core/interpreter.hpp"

namespace forth {

void evaluate(Context& ctx, const std::string& source) {
    std::stringstream stream(source);
    std::string token;
    while (stream >> token && token != "\\") resolve(ctx, token);
}

}  // namespace forth
