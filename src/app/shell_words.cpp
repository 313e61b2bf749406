#include "app/shell_words.hpp"

#include <cstdlib>
#include <ostream>

#include "app/error_report.hpp"
#include "app/source_files.hpp"
#include "app/texts.hpp"
#include "core/streams.hpp"
#include "engine/embed.hpp"

namespace forth {

namespace {

void show_buffer(Context& ctx) {
    std::ostream& out = *ctx.out;
    for (const std::string_view token : ctx.buffer) out << token << ' ';
    out << '\n' << std::flush;
    check_output(ctx);
}

void show_input(Context& ctx) {
    *ctx.out << ctx.input.str() << '\n' << std::flush;
    check_output(ctx);
}

void clear(Context& ctx) { ctx.stack.clear(); }

void bye(Context& ctx) { std::exit(exit_status(ctx, status_ok)); }

}  // namespace

void add_shell_words(Context& ctx) {
    define_word(ctx, ".buffer", show_buffer);
    define_word(ctx, ".input", show_input);
    define_word(ctx, "clear", clear);
    define_word(ctx, "included", included);
    define_word(ctx, "bye", bye);
}

void write_banner(std::ostream& out, const Context& ctx) {
    out << "Welcome to " << version_string << '\n'
        << "Words: " << ctx.words.size() << " Sigils: " << ctx.sigils.size() << " Aliases: " << ctx.aliases.size()
        << '\n'
        << "Enter code or 'bye' to exit:" << std::endl;
}

void run_self_test(Context& ctx) {
    std::size_t number = 1;
    for (const std::string_view line : test_lines) {
        report_outcome(ctx, try_evaluate(ctx, std::string(line), {"<self-test>", number++}));
        if (streams_lost(ctx)) return;
    }
}

}  // namespace forth
