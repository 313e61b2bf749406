#include <ostream>

#include "core/streams.hpp"
#include "core/tables.hpp"
#include "core/user_word.hpp"
#include "words/builtins.hpp"

namespace forth::builtin {

namespace {

// The dictionary entry `name`; aliases are not consulted.
Word& existing_word(Context& ctx, const std::string& name) {
    Word* const word = find_word(ctx, name);
    if (word == nullptr) throw std::domain_error("unknown word - " + name);
    return *word;
}

}  // namespace

// A user word is captured by value, a native word by name.
void quote_word(Context& ctx, const std::string& name) {
    Word& word = existing_word(ctx, name);
    if (const auto* user_word = word.target<UserWord>()) {
        ctx.quotation = user_word->body;
    } else {
        ctx.quotation = TokenList{name};
    }
}

void show_definition(Context& ctx, const std::string& name) {
    Word& word = existing_word(ctx, name);
    std::ostream& out = *ctx.out;
    if (const auto* user_word = word.target<UserWord>()) {
        const char* separator = "";
        for (const std::string_view token : user_word->body) {
            out << separator << token;
            separator = " ";
        }
    } else {
        out << "(native code)";
    }
    out << '\n' << std::flush;
    check_output(ctx);
}

void make_alias(Context& ctx, const std::string& name) { define_alias(ctx, name, ctx.text); }

}  // namespace forth::builtin
