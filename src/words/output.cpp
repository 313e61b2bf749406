#include <ostream>

#include "core/builtins.hpp"
#include "core/interrupt.hpp"
#include "words/integer.hpp"

// Every word prints on the Context's output stream. Only the words that end
// a line flush; the rest leave it to the stream.
namespace forth::builtin {

namespace {

void end_line(Context& ctx) { *ctx.out << '\n' << std::flush; }

template <typename Table>
void list_keys(Context& ctx, const Table& table) {
    std::ostream& out = *ctx.out;
    for (const auto& entry : table) out << entry.first << ' ';
    end_line(ctx);
}

}  // namespace

void print_number(Context& ctx) {
    const double value = pop(ctx);
    *ctx.out << value << ' ';
}

void print_stack(Context& ctx) {
    std::ostream& out = *ctx.out;
    for (const double value : ctx.stack) out << value << ' ';
    end_line(ctx);
}

void list_words(Context& ctx) { list_keys(ctx, ctx.words); }
void list_sigils(Context& ctx) { list_keys(ctx, ctx.sigils); }
void list_aliases(Context& ctx) { list_keys(ctx, ctx.aliases); }

void emit(Context& ctx) {
    const std::int32_t code = to_int32(pop(ctx));
    ctx.out->put(static_cast<char>(code & 0xFF));
}

void space(Context& ctx) { *ctx.out << ' '; }

void spaces(Context& ctx) {
    std::ostream& out = *ctx.out;
    // One at a time: a huge count must not become a huge string, and it
    // may be interrupted.
    for (std::int32_t count = to_int32(pop(ctx)); count > 0; --count) {
        if (count % 4096 == 0) poll_interrupt();
        out.put(' ');
    }
}

void cr(Context& ctx) { end_line(ctx); }

void print_text(Context& ctx) { *ctx.out << ctx.text << ' '; }

}  // namespace forth::builtin
