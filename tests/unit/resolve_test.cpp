#include <cstdlib>

#include "engine/evaluator.hpp"
#include "engine/meaning.hpp"
#include "session.hpp"

using forth::testing::check_all;

// Short whole numbers are read without strtod: the same value, found and in
// range, as strtod gives, up to where strtod takes over.
TEST(Resolve, ShortWholeNumbersReadAsStrtodReadsThem) {
    for (const char* token : {"0", "7", "007", "42", "999999999999999", "1000000000000000", "9007199254740993",
                              "12345678901234567890", "99999999999999999999999999999999999999", "1x", "12.5", "5e3"}) {
        SCOPED_TRACE(token);
        char* end = nullptr;
        const double value = std::strtod(token, &end);
        const forth::LeadingNumber number = forth::leading_number(token);
        EXPECT_EQ(number.value, value);
        EXPECT_TRUE(number.found);
        EXPECT_TRUE(number.in_range);
    }
}

TEST(Resolve, WordsShadowSigilsAndSigilsShadowNumbers) {
    check_all({
        {"10 -1 $1", "", "", "-10 "},
        {"-5", "", "Out of range: stack underflow\n", ""},
        {"$", "", "Out of range: _Map_base::at\n", ""},
        {":1 42 ; true 1", "", "", "42 42 "},
    });
}

TEST(Resolve, OpenConstructsCollectTokensRaw) {
    check_all({
        {"[ foo true ] /q ?q", "foo true\n", "", ""},
        {"[ [ 1 ] ] /q ?q", "[ 1\n", "", ""},
        {"[ 1 \\ comment\n2 ] /q ?q", "1 2\n", "", ""},
    });
}

// What an embedding program calls: one token, or one list, at a time.
TEST(Resolve, OneTokenOrOneListAtATime) {
    forth::Context ctx;
    forth::load_builtins(ctx);
    for (const char* token : {"2", "true", "[", "dup", "+", "]", ":sq", "dup", "*", ";", "sq"}) forth::resolve(ctx, token);
    EXPECT_EQ(ctx.stack, (std::vector<double>{2, 1}));
    EXPECT_THROW(forth::resolve(ctx, "true", false), std::domain_error);
    forth::run(ctx, ctx.quotation);
    const forth::TokenList list{"sq", "1+"};
    forth::run(ctx, list);
    EXPECT_EQ(ctx.stack, (std::vector<double>{2, 5}));
    EXPECT_TRUE(forth::evaluator(ctx).frames.empty());
    // The frames that ran the list keep nothing of it once they end.
    EXPECT_EQ(list.node()->references, 1u);
}
