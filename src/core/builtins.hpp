#pragma once

#include <string>
#include <string_view>

#include "core/context.hpp"

// Every built-in word and sigil handler, by the file that implements it.
// The vocabulary's rows (core/vocabulary.cpp) name them; nothing else does.
namespace forth::builtin {

// core/constructs.cpp, and the closing words its opening words wait for
inline constexpr std::string_view end_of_comment = "*/", end_of_quotation = "]", end_of_block = "}",
                                  end_of_string = ")", end_of_definition = ";";
void open_comment(Context& ctx);
void close_comment(Context& ctx);
void open_quotation(Context& ctx);
void close_list(Context& ctx);
void open_block(Context& ctx);
void open_string(Context& ctx);
void close_string(Context& ctx);
void open_definition(Context& ctx, const std::string& name);
void close_definition(Context& ctx);
void name_quotation(Context& ctx, const std::string& name);

// core/reflective.cpp
void accept(Context& ctx);
void parse_name(Context& ctx);
void number(Context& ctx);
void interpret(Context& ctx);
void execute(Context& ctx);

// words/stack.cpp
void depth(Context& ctx);
void drop(Context& ctx);
void dup(Context& ctx);
void two_dup(Context& ctx);
void over(Context& ctx);
void swap(Context& ctx);
void rot(Context& ctx);
void minus_rot(Context& ctx);

// words/arithmetic.cpp
void add(Context& ctx);
void subtract(Context& ctx);
void multiply(Context& ctx);
void divide(Context& ctx);
void mod(Context& ctx);
void slash_mod(Context& ctx);
void negate(Context& ctx);
void abs(Context& ctx);
void min(Context& ctx);
void max(Context& ctx);
void one_plus(Context& ctx);
void one_minus(Context& ctx);
void less(Context& ctx);
void less_equal(Context& ctx);
void greater(Context& ctx);
void greater_equal(Context& ctx);
void equal(Context& ctx);
void not_equal(Context& ctx);
void logical_and(Context& ctx);
void logical_or(Context& ctx);
void logical_not(Context& ctx);

// words/output.cpp
void print_number(Context& ctx);
void print_stack(Context& ctx);
void list_words(Context& ctx);
void list_sigils(Context& ctx);
void list_aliases(Context& ctx);
void emit(Context& ctx);
void space(Context& ctx);
void spaces(Context& ctx);
void cr(Context& ctx);
void print_text(Context& ctx);

// words/variables.cpp
void store_variable(Context& ctx, const std::string& name);
void add_to_variable(Context& ctx, const std::string& name);
void subtract_from_variable(Context& ctx, const std::string& name);
void fetch_variable(Context& ctx, const std::string& name);

// words/references.cpp
void quote_word(Context& ctx, const std::string& name);
void show_definition(Context& ctx, const std::string& name);
void make_alias(Context& ctx, const std::string& name);

// words/control.cpp (the loops themselves are in words/control.hpp)
void times(Context& ctx);
void iftrue(Context& ctx);
void iffalse(Context& ctx);
void while_loop(Context& ctx);
void until_loop(Context& ctx);
void repeat(Context& ctx);

}  // namespace forth::builtin
