#include "session.hpp"

TEST(Report, ExceptionsOutsideTheFourCategoriesAreReportedToo) {
    forth::Context ctx;
    std::ostringstream err;
    ctx.err = &err;
    const forth::Outcome failed = forth::catch_errors(ctx, [] { throw std::bad_alloc(); });
    EXPECT_FALSE(failed.ok);
    forth::write_report(ctx, failed, true);
    const forth::Outcome succeeded = forth::catch_errors(ctx, [] {});
    EXPECT_TRUE(succeeded.ok);
    forth::write_report(ctx, succeeded, true);
    EXPECT_EQ(err.str(), "Error: std::bad_alloc\n");
}
