#include <gtest/gtest.h>

#include "app/completion.hpp"
#include "app/shell_words.hpp"
#include "engine/evaluate.hpp"

namespace {

using Names = std::vector<std::string>;

// A Context is never moved: each test fills its own.
struct Session : forth::Context {
    Session() {
        forth::load_builtins(*this);
        forth::add_shell_words(*this);
        forth::evaluate(*this, ":square dup * ; :squash ; 1 =velocity 2 =verbose 3 =x");
    }
};

TEST(Completion, TokensEndAtWhiteSpaceOnly) {
    EXPECT_EQ(forth::last_token("1 2 $ve"), "$ve");
    EXPECT_EQ(forth::last_token("[ 'dup"), "'dup");
    EXPECT_EQ(forth::last_token("a\tb=c"), "b=c");
    EXPECT_EQ(forth::last_token("dup "), "");
    EXPECT_EQ(forth::last_token(""), "");
}

TEST(Completion, WordsAndAliasesAsTheyStandNow) {
    const Session ctx;
    EXPECT_EQ(forth::completions(ctx, "squ"), (Names{"square", "squash"}));
    EXPECT_EQ(forth::completions(ctx, "2d"), (Names{"2dup"}));
    EXPECT_EQ(forth::completions(ctx, "tr"), (Names{"true"}));
    EXPECT_EQ(forth::completions(ctx, "nothing"), Names{});
    EXPECT_EQ(forth::completions(ctx, "").size(), ctx.words.size() + ctx.aliases.size());
}

TEST(Completion, SigilsTakeTheNamesTheyWorkOn) {
    const Session ctx;
    for (const std::string sigil : {"$", "=", "+"}) {
        EXPECT_EQ(forth::completions(ctx, sigil + "ve"), (Names{sigil + "velocity", sigil + "verbose"}));
    }
    // "-" is a word, "-rot" too, and the sigil for variables.
    EXPECT_EQ(forth::completions(ctx, "-"), (Names{"-", "-rot", "-velocity", "-verbose", "-x"}));
    EXPECT_EQ(forth::completions(ctx, "'squ"), (Names{"'square", "'squash"}));
    EXPECT_EQ(forth::completions(ctx, "?2"), (Names{"?2dup"}));
    EXPECT_EQ(forth::completions(ctx, "'tr"), Names{}) << "aliases are no words to refer to";
    EXPECT_EQ(forth::completions(ctx, ":squ"), Names{}) << "a definition names a new word";
}

TEST(Completion, CommonPrefixKeepsCharactersWhole) {
    EXPECT_EQ(forth::common_prefix({"squash", "square"}), "squa");
    EXPECT_EQ(forth::common_prefix({"dup"}), "dup");
    EXPECT_EQ(forth::common_prefix({}), "");
    EXPECT_EQ(forth::common_prefix({"caf\xc3\xa9", "caf\xc3\xa8"}), "caf");
}

}  // namespace
