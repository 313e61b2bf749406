#include <cstdint>
#include <sstream>
#include <string>

#include "core/line_input.hpp"
#include "core/streams.hpp"
#include "core/text_register.hpp"
#include "words/builtins.hpp"

namespace forth::builtin {

namespace {

// As `input >> value` for what input mostly holds, a whole number of up to
// fifteen digits, exact as a double: read straight from the buffer instead
// of through the stream's parser. False, having taken nothing but blanks,
// for anything else, which the stream then reads.
bool read_whole_number(std::stringstream& input, double& value) {
    if (!input.good()) return false;
    std::streambuf& buffer = *input.rdbuf();
    constexpr auto end = std::char_traits<char>::eof();
    while (is_blank(std::char_traits<char>::to_char_type(buffer.sgetc()))) buffer.sbumpc();  // end of input is no blank
    int taken = 0;
    const int sign = buffer.sgetc();
    if (sign == '-' || sign == '+') {
        buffer.sbumpc();
        ++taken;
    }
    std::int64_t whole = 0;
    int digits = 0;
    int next = buffer.sgetc();
    for (; next >= '0' && next <= '9' && digits < 15; next = buffer.snextc(), ++digits)
        whole = whole * 10 + (next - '0');
    taken += digits;
    // What the stream would go on reading, or nothing read at all.
    if (digits == 0 || (next >= '0' && next <= '9') || next == '.' || next == 'e' || next == 'E') {
        for (; taken > 0; --taken) buffer.sungetc();
        return false;
    }
    if (next == end) input.setstate(std::ios_base::eofbit);
    value = sign == '-' ? -static_cast<double>(whole) : static_cast<double>(whole);
    return true;
}

}  // namespace

void accept(Context& ctx) {
    std::string line;  // stays empty at end of input
    read_line(ctx, line);
    check_output(ctx);  // which reading from standard input flushed
    // Replacing the content puts the read position at its start.
    ctx.input.str(line);
    // Clearing every error flag, not only end-of-input, lets parse-name and
    // number work on the new line after an earlier read failed.
    ctx.input.clear();
}

void parse_name(Context& ctx) {
    std::string token;
    if (ctx.input >> token) {
        forget_joined_text(ctx.runtime);
        ctx.text = token;
    }
}

void number(Context& ctx) {
    double value = 0.0;  // what an exhausted or failed stream yields
    if (!read_whole_number(ctx.input, value)) ctx.input >> value;
    push(ctx, value);
}

Entry interpret(Context& ctx) { return Entry::source(ctx.input.str()); }

Entry execute(Context& ctx) { return Entry::once(ctx.quotation); }

}  // namespace forth::builtin
