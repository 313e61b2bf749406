#include "session.hpp"

using forth::testing::check_all;

// Runaway recursion of every kind ends in an error, and the session goes on.
TEST(Guard, RunawayRecursionIsAnOrdinaryError) {
    constexpr std::string_view too_deep = "Runtime error: recursion too deep\n";
    check_all({
        {":f f ;\n1 f\n2 f\n3", "", "Runtime error: recursion too deep\nRuntime error: recursion too deep\n", "1 2 3 "},
        {":a b ; :b a ; a", "", too_deep, ""},
        {":f g ; ( f ) @g g", "", too_deep, ""},
        {"[ execute ] execute", "", too_deep, ""},
        {"accept interpret", "", too_deep, "", "interpret\n"},
    });
}

TEST(Guard, ExceptionsOutsideTheFourCategoriesAreReportedToo) {
    const forth::testing::Redirect err(std::cerr);
    EXPECT_FALSE(forth::report_errors([] { throw std::bad_alloc(); }));
    EXPECT_TRUE(forth::report_errors([] {}));
    EXPECT_EQ(err.text(), "Error: std::bad_alloc\n");
}
