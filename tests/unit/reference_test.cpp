#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>

#include "lsp/reference.hpp"
#include "words/vocabulary.hpp"

// Hover shows a built-in's effect from the language reference, while the
// stack-effect analysis counts with the vocabulary's row: the two must take
// and leave as many values, or the editor would say one thing and check
// another. Words that may change anything or say what to run are left to
// the reference alone, and a construct's words are read as its shape.
TEST(Reference, EffectsOfWordsAgreeWithTheirRows) {
    for (const forth::Builtin& row : forth::vocabulary()) {
        using forth::Kind;
        if (row.kind == Kind::alias || row.kind == Kind::change || row.kind == Kind::control ||
            row.kind == Kind::variable_sigil || row.kind == Kind::fetch_sigil || row.kind == Kind::opener_sigil ||
            row.kind == Kind::other_sigil || row.kind == Kind::opener || forth::is_closer(row.name)) {
            continue;
        }
        const std::string effect = forth::lsp::effect_of(forth::lsp::describe(row.name, false));
        ASSERT_FALSE(effect.empty()) << row.name << " has no effect in the reference";
        // "( x y -- r )": the names before the dashes, then those after.
        std::istringstream names(effect.substr(1, effect.size() - 2));
        std::string name;
        std::size_t taken = 0, left = 0, *counting = &taken;
        while (names >> name) {
            if (name == "--") counting = &left;
            else ++*counting;
        }
        EXPECT_EQ(taken, row.in) << row.name << ' ' << effect;
        EXPECT_EQ(left, row.out) << row.name << ' ' << effect;
    }
}
