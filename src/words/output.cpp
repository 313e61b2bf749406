#include <charconv>
#include <cmath>
#include <cstdint>
#include <locale>
#include <ostream>

#include "core/integer.hpp"
#include "core/streams.hpp"
#include "core/trap.hpp"
#include "words/builtins.hpp"

// Every word prints on the Context's output stream. Only the words that end
// a line flush; the rest leave it to the stream. Each looks at the stream
// after it wrote: a write that failed, there or in an earlier word whose
// output the stream held, stops what runs (core/streams.hpp).
namespace forth::builtin {

namespace {

void end_line(Context& ctx) {
    *ctx.out << '\n' << std::flush;
    check_output(ctx);
}

// As `out << value << ' '`. The stream formats a double as printf's %g
// does, at length; a whole number of at most six digits, which %g writes
// digit for digit, is written from its digits when the stream is set as it
// starts out, which is nearly every number a program prints.
void write_number(std::ostream& out, double value) {
    constexpr auto default_flags = std::ios_base::skipws | std::ios_base::dec;
    if (std::abs(value) < 1e6 && !(value == 0 && std::signbit(value)) && out.flags() == default_flags &&
        out.precision() == 6 && out.width() == 0 && out.getloc() == std::locale::classic()) {
        if (const auto whole = static_cast<std::int32_t>(value); whole == value) {
            char digits[16];
            char* const end = std::to_chars(digits, digits + sizeof digits - 1, whole).ptr;
            *end = ' ';
            out.write(digits, end + 1 - digits);
            return;
        }
    }
    out << value << ' ';
}

template <typename Table>
void list_keys(Context& ctx, const Table& table) {
    std::ostream& out = *ctx.out;
    for (const auto& entry : table) out << entry.first << ' ';
    end_line(ctx);
}

}  // namespace

void print_number(Context& ctx) {
    write_number(*ctx.out, pop(ctx));
    check_output(ctx);
}

void print_stack(Context& ctx) {
    std::ostream& out = *ctx.out;
    for (const double value : ctx.stack) write_number(out, value);
    end_line(ctx);
}

void list_words(Context& ctx) { list_keys(ctx, ctx.words); }
void list_sigils(Context& ctx) { list_keys(ctx, ctx.sigils); }
void list_aliases(Context& ctx) { list_keys(ctx, ctx.aliases); }

void emit(Context& ctx) {
    const std::int32_t code = to_int32(pop(ctx));
    ctx.out->put(static_cast<char>(code & 0xFF));
    check_output(ctx);
}

void space(Context& ctx) {
    *ctx.out << ' ';
    check_output(ctx);
}

void spaces(Context& ctx) {
    std::ostream& out = *ctx.out;
    // One at a time: a huge count must not become a huge string, and it
    // may be interrupted.
    for (std::int32_t count = to_int32(pop(ctx)); count > 0; --count) {
        if (count % 4096 == 0) {
            poll_interrupt(ctx.runtime);
            check_output(ctx);
        }
        out.put(' ');
    }
    check_output(ctx);
}

void cr(Context& ctx) { end_line(ctx); }

void print_text(Context& ctx) {
    *ctx.out << ctx.text << ' ';
    check_output(ctx);
}

}  // namespace forth::builtin
