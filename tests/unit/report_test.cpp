#include "session.hpp"

TEST(Report, ExceptionsOutsideTheFourCategoriesAreReportedToo) {
    const forth::testing::Redirect err(std::cerr);
    EXPECT_FALSE(forth::report_errors([] { throw std::bad_alloc(); }));
    EXPECT_TRUE(forth::report_errors([] {}));
    EXPECT_EQ(err.text(), "Error: std::bad_alloc\n");
}
