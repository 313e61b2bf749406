#include "core/builtins.hpp"
#include "core/interpreter.hpp"
#include "core/user_word.hpp"

// Opening words name the closing word that ends the construct; the evaluator
// then collects every token into the buffer until that closing word comes.
namespace forth::builtin {

namespace {

// Assigned from the range: g++ 12 warns wrongly of overlap on assigning a
// string_view.
void wait_for(Context& ctx, std::string_view closing_word) {
    ctx.terminator.assign(closing_word.begin(), closing_word.end());
}

void open(Context& ctx, std::string_view closing_word) {
    ctx.buffer.clear();
    wait_for(ctx, closing_word);
}

}  // namespace

void open_comment(Context& ctx) { wait_for(ctx, end_of_comment); }

void close_comment(Context& ctx) { ctx.buffer.clear(); }

void open_quotation(Context& ctx) { open(ctx, end_of_quotation); }

// Closes both quotations and blocks: they differ only in their closing token.
void close_list(Context& ctx) { ctx.quotation = ctx.buffer; }

void open_block(Context& ctx) { open(ctx, end_of_block); }

void open_string(Context& ctx) { open(ctx, end_of_string); }

void close_string(Context& ctx) { ctx.text = joined(ctx.buffer); }

void open_definition(Context& ctx, const std::string& name) {
    ctx.text = name;
    open(ctx, end_of_definition);
}

void close_definition(Context& ctx) { define_word(ctx, ctx.text, UserWord{ctx.buffer}); }

void name_quotation(Context& ctx, const std::string& name) { define_word(ctx, name, UserWord{ctx.quotation}); }

}  // namespace forth::builtin
