#include <iostream>

#include "core/builtins.hpp"
#include "core/interrupt.hpp"
#include "words/integer.hpp"

// Only the words that end a line flush; the rest leave it to the stream.
namespace forth::builtin {

namespace {

void end_line() { std::cout << '\n' << std::flush; }

template <typename Table>
void list_keys(const Table& table) {
    for (const auto& entry : table) std::cout << entry.first << ' ';
    end_line();
}

}  // namespace

void print_number(Context& ctx) {
    const double value = pop(ctx);
    std::cout << value << ' ';
}

void print_stack(Context& ctx) {
    for (const double value : ctx.stack) std::cout << value << ' ';
    end_line();
}

void list_words(Context& ctx) { list_keys(ctx.words); }
void list_sigils(Context& ctx) { list_keys(ctx.sigils); }
void list_aliases(Context& ctx) { list_keys(ctx.aliases); }

void emit(Context& ctx) {
    const std::int32_t code = to_int32(pop(ctx));
    std::cout.put(static_cast<char>(code & 0xFF));
}

void space(Context&) { std::cout << ' '; }

void spaces(Context& ctx) {
    // One at a time: a huge count must not become a huge string, and it
    // may be interrupted.
    for (std::int32_t count = to_int32(pop(ctx)); count > 0; --count) {
        if (count % 4096 == 0) poll_interrupt();
        std::cout.put(' ');
    }
}

void cr(Context&) { end_line(); }

void print_text(Context& ctx) { std::cout << ctx.text << ' '; }

}  // namespace forth::builtin
