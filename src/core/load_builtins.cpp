#include "core/builtins.hpp"
#include "core/interpreter.hpp"

namespace forth {

// The whole vocabulary, in registration order. The order is part of the
// language: the listing words show the tables in the hash maps' iteration
// order, which depends on it.
void load_builtins(Context& ctx) {
    using namespace builtin;
    const auto word = [&](const char* name, Word behaviour) { ctx.words[name] = std::move(behaviour); };
    const auto sigil = [&](char character, SigilHandler handler) { ctx.sigils[character] = std::move(handler); };
    const auto alias = [&](const char* name, const char* replacement) { ctx.aliases[name] = replacement; };

    word("depth", depth);
    word(".s", print_stack);
    word("words", list_words);
    word("sigils", list_sigils);
    word("aliases", list_aliases);
    word("/*", open_comment);
    word("*/", close_comment);
    word("[", open_quotation);
    word("]", close_list);
    word("{", open_block);
    word("}", close_list);
    word("(", open_string);
    word(")", close_string);
    word(".", print_number);
    word("emit", emit);
    word("space", space);
    word("spaces", spaces);
    word("cr", cr);
    word("..", print_text);
    word("accept", accept);
    sigil('=', store_variable);
    sigil('+', add_to_variable);
    sigil('-', subtract_from_variable);
    sigil('$', fetch_variable);
    sigil('\'', quote_word);
    sigil('/', name_quotation);
    sigil('?', show_definition);
    word("interpret", interpret);
    word("execute", execute);
    word("number", number);
    word("parse-name", parse_name);
    sigil(':', open_definition);
    word(";", close_definition);
    sigil('@', make_alias);
    word("+", add);
    word("-", subtract);
    word("*", multiply);
    word("/", divide);
    word("mod", mod);
    word("/mod", slash_mod);
    word("negate", negate);
    word("abs", abs);
    word("min", min);
    word("max", max);
    word("1+", one_plus);
    word("1-", one_minus);
    word("drop", drop);
    word("dup", dup);
    word("2dup", two_dup);
    word("over", over);
    word("swap", swap);
    word("rot", rot);
    word("-rot", minus_rot);
    word("<", less);
    word("<=", less_equal);
    word(">", greater);
    word(">=", greater_equal);
    word("=", equal);
    word("<>", not_equal);
    word("and", logical_and);
    word("or", logical_or);
    word("not", logical_not);
    alias("true", "1");
    alias("false", "0");
    word("times", times);
    word("iftrue", iftrue);
    word("iffalse", iffalse);
    word("while", while_loop);
    word("until", until_loop);
    word("repeat", repeat);
    note_change(ctx);
}

}  // namespace forth
