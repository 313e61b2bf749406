#include "engine/meaning.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace forth {

LeadingNumber leading_number(const std::string& token) {
    // Most numbers in source text are a few decimal digits, exact as a
    // double: strtod would give the same value at many times the cost.
    const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!token.empty() && token.size() <= 15 && std::all_of(token.begin(), token.end(), is_digit)) {
        std::int64_t whole = 0;
        for (const char digit : token) whole = whole * 10 + (digit - '0');
        return {static_cast<double>(whole), true, true};
    }
    const char* const start = token.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(start, &end);
    return {value, end != start, errno != ERANGE};
}

void no_number(const std::string& token) {
    if (!leading_number(token).found) throw std::domain_error("unknown word - " + token);
    throw std::out_of_range("stod");
}

}  // namespace forth
