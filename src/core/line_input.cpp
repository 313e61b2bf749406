#include "core/line_input.hpp"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace forth {

namespace {

// The standard input's own buffer, as it was before anything replaced it.
std::streambuf* const standard_input = std::cin.rdbuf();

// As std::getline on std::cin, a line at a time instead of a character at a
// time. The standard streams stay synchronised with C's, so std::cin reads
// through C's stdin without a buffer of its own: reading the line from stdin
// takes the same characters, and leaves both where std::getline would.
bool read_standard_input(std::string& line) {
    const std::istream::sentry ready(std::cin, true);  // flushes std::cout, as std::getline does
    if (!ready) {
        std::cin.setstate(std::ios_base::failbit);
        return false;
    }
    // Kept from line to line, as getline lets it grow.
    struct Buffer {
        char* text = nullptr;
        std::size_t capacity = 0;
        ~Buffer() { std::free(text); }
    };
    static thread_local Buffer buffer;
    const ssize_t length = ::getline(&buffer.text, &buffer.capacity, stdin);
    const char* const text = buffer.text;
    if (length <= 0) {
        line.clear();
        std::cin.setstate(std::ios_base::eofbit | std::ios_base::failbit);
        return false;
    }
    const bool ended = text[length - 1] == '\n';
    line.assign(text, static_cast<std::size_t>(ended ? length - 1 : length));
    if (!ended) std::cin.setstate(std::ios_base::eofbit);
    return true;
}

}  // namespace

bool read_line(Context& ctx, std::string& line) {
    if (ctx.line_source) return ctx.line_source(line);
    if (ctx.in == &std::cin && std::cin.rdbuf() == standard_input) return read_standard_input(line);
    return static_cast<bool>(std::getline(*ctx.in, line));
}

}  // namespace forth
