#include "app/shell_words.hpp"

#include <cstdlib>
#include <iostream>

#include "app/error_report.hpp"
#include "app/source_files.hpp"
#include "app/texts.hpp"
#include "core/interpreter.hpp"

namespace forth {

namespace {

void show_buffer(Context& ctx) {
    for (const std::string_view token : ctx.buffer) std::cout << token << ' ';
    std::cout << '\n' << std::flush;
}

void show_input(Context& ctx) { std::cout << ctx.input.str() << '\n' << std::flush; }

void clear(Context& ctx) { ctx.stack.clear(); }

void bye(Context&) { std::exit(0); }

}  // namespace

void add_shell_words(Context& ctx) {
    define_word(ctx, ".buffer", show_buffer);
    define_word(ctx, ".input", show_input);
    define_word(ctx, "clear", clear);
    define_word(ctx, "included", included);
    define_word(ctx, "bye", bye);
}

void run_self_test(Context& ctx) {
    for (const std::string_view line : test_lines) report_errors([&] { evaluate(ctx, std::string(line)); });
}

}  // namespace forth
