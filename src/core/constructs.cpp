#include "core/builtins.hpp"
#include "core/user_word.hpp"

// Opening words name the closing word that ends the construct; resolve then
// collects every token into the buffer until that closing word comes.
namespace forth::builtin {

namespace {

void open(Context& ctx, const char* closing_word) {
    ctx.buffer.clear();
    ctx.terminator = closing_word;
}

}  // namespace

void open_comment(Context& ctx) { ctx.terminator = "*/"; }

void close_comment(Context& ctx) { ctx.buffer.clear(); }

void open_quotation(Context& ctx) { open(ctx, "]"); }

// Closes both quotations and blocks: they differ only in their closing token.
void close_list(Context& ctx) { ctx.quotation = ctx.buffer; }

void open_block(Context& ctx) { open(ctx, "}"); }

void open_string(Context& ctx) { open(ctx, ")"); }

void close_string(Context& ctx) {
    ctx.text.clear();
    for (const std::string& token : ctx.buffer) {
        ctx.text += token;
        ctx.text += ' ';
    }
    if (!ctx.text.empty()) ctx.text.pop_back();
}

void open_definition(Context& ctx, const std::string& name) {
    ctx.text = name;
    open(ctx, ";");
}

void close_definition(Context& ctx) { ctx.words[ctx.text] = UserWord{ctx.buffer}; }

void name_quotation(Context& ctx, const std::string& name) { ctx.words[name] = UserWord{ctx.quotation}; }

}  // namespace forth::builtin
