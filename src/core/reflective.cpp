#include "core/builtins.hpp"
#include "core/interpreter.hpp"
#include "core/line_input.hpp"

namespace forth::builtin {

void accept(Context& ctx) {
    std::string line;  // stays empty at end of input
    read_line(ctx, line);
    ctx.input.str(line);
    // Clearing every error flag, not only end-of-input, lets parse-name and
    // number work on the new line after an earlier read failed.
    ctx.input.clear();
    ctx.input.seekg(0);
}

void parse_name(Context& ctx) {
    std::string token;
    if (ctx.input >> token) ctx.text = token;
}

void number(Context& ctx) {
    double value = 0.0;  // what an exhausted or failed stream yields
    ctx.input >> value;
    push(ctx, value);
}

void interpret(Context& ctx) { call_text(ctx, ctx.input.str()); }

void execute(Context& ctx) { call_list(ctx, ctx.quotation); }

}  // namespace forth::builtin
