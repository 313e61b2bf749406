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

namespace {

// The explanation of the error the last line of `lines` ends in, with
// places tracked, as a person at a terminal gets it.
std::string explained(std::initializer_list<std::string> lines) {
    forth::Context ctx;
    forth::load_builtins(ctx);
    forth::add_shell_words(ctx);
    std::ostringstream out, err;
    ctx.out = &out;
    ctx.err = &err;
    forth::track_places(ctx);
    forth::Outcome outcome;
    for (const std::string& line : lines) outcome = forth::try_evaluate(ctx, line, {"<input>"});
    EXPECT_FALSE(outcome.ok);
    return outcome.explanation;
}

}  // namespace

TEST(Report, ErrorsAreExplainedInPlainWords) {
    EXPECT_EQ(explained({"$total"}),
              "the variable total was fetched before any value was stored in it: store one first, as in 0 =total");
    EXPECT_EQ(explained({"( $total ) @t", "t"}).substr(0, 22), "the variable total was");  // through an alias
    EXPECT_EQ(explained({"( /no/such.tv ) included"}),
              "the file /no/such.tv cannot be opened: No such file or directory");
    EXPECT_EQ(explained({"1 0 mod"}), "");  // the report says it all
}

TEST(Report, AnUnknownWordIsExplainedWithTheNearestWords) {
    EXPECT_EQ(explained({"3 dpu"}), "dpu is no word defined here: did you mean dup?");
    EXPECT_EQ(explained({":sqare dup * ; :sqaure 1 ;", "squarre"}),
              "squarre is no word defined here: did you mean sqare or sqaure?");
    EXPECT_EQ(explained({"qzx"}), "qzx is no word defined here; words lists those that are");
    // Defined at that point: a word made since counts, one forgotten does not.
    EXPECT_EQ(explained({":totl 1 ;", "totol"}), "totol is no word defined here: did you mean totl?");
    EXPECT_EQ(explained({": sq dup * ;", "3 sq"}), "sq is no word defined here; words lists those that are "
                                                   "(a : followed by a blank defined the word with the empty name)");
}

TEST(Report, AnUnderflowNamesTheWordAndWhatItTakes) {
    EXPECT_EQ(explained({"5 swap"}), "swap takes 2 values from the stack, which held 1");
    EXPECT_EQ(explained({"negate"}), "negate takes 1 value from the stack, which was empty");
    EXPECT_EQ(explained({"-5"}), "-5 takes 1 value from the stack, which was empty");  // a sigil
    EXPECT_EQ(explained({":avg + 2 / ;", "5 avg"}),
              "+ takes 2 values from the stack, which held fewer: it took what there was");
    EXPECT_EQ(explained({":f { 1 { 2 } iftrue } iftrue ;", "f"}),
              "iftrue takes 1 value from the stack, which was empty");
}
