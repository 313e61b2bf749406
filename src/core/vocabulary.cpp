#include "core/vocabulary.hpp"

#include "core/builtins.hpp"
#include "core/interpreter.hpp"
#include "core/steps.hpp"

namespace forth {

namespace {

using namespace builtin;
namespace o = operation;

constexpr Builtin word(std::string_view name, Kind kind, void (*behaviour)(Context&), const InlineWord* fast = nullptr) {
    return {.name = name, .kind = kind, .word = behaviour, .fast = fast};
}

constexpr Builtin opener(std::string_view name, void (*behaviour)(Context&), Construct construct, std::string_view closer) {
    return {.name = name, .kind = Kind::opener, .word = behaviour, .construct = construct, .closer = closer};
}

constexpr Builtin sigil(std::string_view character, Kind kind, void (*handler)(Context&, const std::string&),
                        const InlineWord* fast = nullptr) {
    return {.name = character, .kind = kind, .sigil = handler, .fast = fast};
}

constexpr Builtin alias(std::string_view name, const char* replacement) { return {.name = name, .alias = replacement}; }

constexpr Kind straight = Kind::straight, control = Kind::control, other = Kind::other;

// The whole vocabulary, in registration order. The order is part of the
// language: the listing words show the tables in the hash maps' iteration
// order, which depends on it.
constexpr Builtin vocabulary[] = {
    word("depth", straight, depth),
    word(".s", straight, print_stack),
    word("words", straight, list_words),
    word("sigils", straight, list_sigils),
    word("aliases", straight, list_aliases),
    opener("/*", open_comment, Construct::comment, end_of_comment),
    word("*/", straight, close_comment),
    opener("[", open_quotation, Construct::list, end_of_quotation),
    word("]", straight, close_list),
    opener("{", open_block, Construct::list, end_of_block),
    word("}", straight, close_list),
    opener("(", open_string, Construct::text, end_of_string),
    word(")", straight, close_string),
    word(".", straight, print_number),
    word("emit", straight, emit),
    word("space", straight, space),
    word("spaces", straight, spaces),
    word("cr", straight, cr),
    word("..", straight, print_text),
    word("accept", straight, accept),
    sigil("=", Kind::variable, store_variable, &variable_change<o::Store>),
    sigil("+", Kind::variable, add_to_variable, &variable_change<o::AddTo>),
    sigil("-", Kind::variable, subtract_from_variable, &variable_change<o::SubtractFrom>),
    sigil("$", Kind::fetch, fetch_variable, &variable_fetch),
    sigil("'", other, quote_word),
    sigil("/", other, name_quotation),
    sigil("?", other, show_definition),
    word("interpret", control, interpret),
    word("execute", control, execute),
    word("number", straight, number),
    word("parse-name", straight, parse_name),
    {.name = ":", .kind = Kind::opener, .sigil = open_definition, .construct = Construct::definition, .closer = end_of_definition},
    word(";", other, close_definition),
    sigil("@", other, make_alias),
    word("+", straight, add, &two_operands<o::Add>),
    word("-", straight, subtract, &two_operands<o::Subtract>),
    word("*", straight, multiply, &two_operands<o::Multiply>),
    word("/", straight, divide, &two_operands<o::Divide>),
    word("mod", straight, mod, &two_operands<o::Remainder>),
    word("/mod", straight, slash_mod, &stack_word_with_operand<slash_mod>),
    word("negate", straight, negate, &one_operand<o::Negate>),
    word("abs", straight, abs, &one_operand<o::Abs>),
    word("min", straight, min, &two_operands<o::Min>),
    word("max", straight, max, &two_operands<o::Max>),
    word("1+", straight, one_plus, &one_operand<o::OnePlus>),
    word("1-", straight, one_minus, &one_operand<o::OneMinus>),
    word("drop", straight, drop, &stack_word<o::drop>),
    word("dup", straight, dup, &stack_word<o::dup, o::Copy::top>),
    word("2dup", straight, two_dup, &stack_word<two_dup>),
    word("over", straight, over, &stack_word<o::over, o::Copy::second>),
    word("swap", straight, swap, &stack_word<o::swap>),
    word("rot", straight, rot, &stack_word<rot>),
    word("-rot", straight, minus_rot, &stack_word<minus_rot>),
    word("<", straight, less, &two_operands<o::Less>),
    word("<=", straight, less_equal, &two_operands<o::LessEqual>),
    word(">", straight, greater, &two_operands<o::Greater>),
    word(">=", straight, greater_equal, &two_operands<o::GreaterEqual>),
    word("=", straight, equal, &two_operands<o::Equal>),
    word("<>", straight, not_equal, &two_operands<o::NotEqual>),
    word("and", straight, logical_and, &two_operands<o::And>),
    word("or", straight, logical_or, &two_operands<o::Or>),
    word("not", straight, logical_not, &one_operand<o::Not, true>),
    alias("true", "1"),
    alias("false", "0"),
    word("times", control, times),
    word("iftrue", control, iftrue, &conditional<true>),
    word("iffalse", control, iffalse, &conditional<false>),
    word("while", straight, while_loop),
    word("until", straight, until_loop),
    word("repeat", control, repeat),
};

}  // namespace

void load_builtins(Context& ctx) {
    for (const Builtin& row : vocabulary) {
        if (row.alias != nullptr) {
            define_alias(ctx, std::string(row.name), row.alias);
        } else if (row.sigil != nullptr) {
            ctx.sigils[row.name[0]] = BuiltinSigil{&row};
        } else {
            define_word(ctx, std::string(row.name), BuiltinWord{&row});
        }
    }
    note_change(ctx);
}

}  // namespace forth
