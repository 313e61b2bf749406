#include "app/interactive.hpp"

#include <iostream>

#include "app/error_report.hpp"
#include "app/texts.hpp"
#include "core/interpreter.hpp"
#include "core/line_input.hpp"

namespace forth {

// "ok" and the prompts are not flushed here: standard input is tied to
// standard output, so they appear before the next line is read.
void interactive_loop(Context& ctx) {
    std::cout << "Welcome to " << version_string << '\n'
              << "Words: " << ctx.words.size() << " Sigils: " << ctx.sigils.size()
              << " Aliases: " << ctx.aliases.size() << '\n'
              << "Enter code or 'bye' to exit:" << std::endl
              << "? ";
    std::string line;
    while (read_line(line)) {
        if (report_errors([&] { evaluate(ctx, line); })) std::cout << "ok\n";
        std::cout << (ctx.terminator.empty() ? "? " : "... ");
    }
}

}  // namespace forth
