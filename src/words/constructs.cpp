#include "core/tables.hpp"
#include "core/text_register.hpp"
#include "core/trap.hpp"
#include "core/user_word.hpp"
#include "words/builtins.hpp"
#include "words/vocabulary.hpp"

// Opening words name the closing word that ends the construct, as their
// rows give it; the evaluator then collects every token into the buffer
// until that closing word comes. Opening sets the trap: a compiled list
// must stop running its instructions and collect what follows.
namespace forth::builtin {

namespace {

// Assigned from the range: g++ 12 warns wrongly of overlap on assigning a
// string_view.
void wait_for(Context& ctx, Row opener) {
    const std::string_view closing_word = row(opener).closer;
    ctx.terminator.assign(closing_word.begin(), closing_word.end());
    set_trap(ctx.runtime);
}

void open(Context& ctx, Row opener) {
    ctx.buffer.clear();
    wait_for(ctx, opener);
}

}  // namespace

void open_comment(Context& ctx) { wait_for(ctx, Row::open_comment); }

void close_comment(Context& ctx) { ctx.buffer.clear(); }

void open_quotation(Context& ctx) { open(ctx, Row::open_quotation); }

// Closes both quotations and blocks: they differ only in their closing token.
void close_list(Context& ctx) { ctx.quotation = ctx.buffer; }

void open_block(Context& ctx) { open(ctx, Row::open_block); }

void open_string(Context& ctx) { open(ctx, Row::open_string); }

void close_string(Context& ctx) { set_text_joined(ctx, ctx.buffer); }

void open_definition(Context& ctx, const std::string& name) {
    forget_joined_text(ctx.runtime);
    ctx.text = name;
    open(ctx, Row::open_definition);
}

// The evaluator's whole definitions set the register to the name just before.
void close_definition(Context& ctx) {
    forget_joined_text(ctx.runtime);
    define_word(ctx, ctx.text, UserWord{ctx.buffer});
}

void name_quotation(Context& ctx, const std::string& name) { define_word(ctx, name, UserWord{ctx.quotation}); }

}  // namespace forth::builtin
