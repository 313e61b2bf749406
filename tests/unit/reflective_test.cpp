#include <cmath>
#include <sstream>

#include "session.hpp"

using forth::testing::check_all;

TEST(Reflective, AcceptFeedsParseNameNumberAndInterpret) {
    check_all({
        {"accept interpret interpret", "", "", "1 1 ", "1\n"},
        {"accept interpret 2", "", "", "1 2 ", "1 \\ 5\n"},
        {"accept parse-name .. parse-name .. parse-name ..", "hello world world ", "", "", "   hello   world  \n"},
        {"accept number number", "", "", "3.5 0 ", "3.5 x\n"},
        {"accept number", "", "", "1.79769e+308 ", "1e400\n"},
        {"accept .input interpret number", "\n", "", "0 "},
        {"accept interpret", "", "", "7 5 ", "accept interpret 5\n7\n"},
    });
}

TEST(Reflective, AcceptClearsAFailedRead) {
    check_all({
        {"accept parse-name parse-name accept parse-name ..", "b ", "", "", "a\nb\n"},
        {"accept 7 number accept number", "", "", "7 0 5 ", "x\n5\n"},
    });
}

// number reads a short whole number from the line itself, and anything else
// through the stream: either way it takes what the stream would take, and
// leaves the stream as the stream would.
TEST(Reflective, NumberReadsAsTheStreamReads) {
    for (const char* line : {"", "   ", "5", " 42 ", "-0", "+7", "-", "+", "- 5", "12.5", "1e3", "7E2", "123456789012345",
                             "1234567890123456", "-999999999999999", "0x10", "5abc", "5-3", "007", "  -12  34", "nan", "inf",
                             "99999999999999999999", "1.", ".5", "\t\n 8", "3 4 5"}) {
        SCOPED_TRACE(line);
        forth::Context ctx;
        forth::load_builtins(ctx);
        std::stringstream expected(line);
        ctx.input.str(line);
        for (int read = 0; read < 3; ++read) {
            double value = 0;
            expected >> value;
            forth::evaluate(ctx, "number");
            ASSERT_EQ(ctx.stack.size(), 1u);
            EXPECT_EQ(std::signbit(ctx.stack.back()), std::signbit(value));
            EXPECT_EQ(ctx.stack.back(), value);
            EXPECT_EQ(ctx.input.rdstate(), expected.rdstate());
            ctx.stack.clear();
            ctx.input.clear();
            expected.clear();
            EXPECT_EQ(ctx.input.tellg(), expected.tellg());
        }
    }
}

// A closer with nothing open sets the text register from the buffer again,
// copying only when something wrote the register since: a write of the
// same length, in place, must not pass for no write.
TEST(Reflective, LoneCloserSetsTheTextAfterAnyWrite) {
    check_all({
        {"accept ( a b ) parse-name .. ) .. parse-name .. ) ..", "xyz a b uvw a b ", "", "", "xyz uvw\n"},
        {"( a b ) ) .. ( c d ) ) .. cr", "a b c d \n", "", ""},
    });
    forth::Context ctx;
    forth::load_builtins(ctx);
    std::ostringstream out;
    ctx.out = &out;
    forth::define_word(ctx, "overwrite", [](forth::Context& running) { running.text.replace(0, 3, "xyz"); });
    ctx.sigils['~'] = [](forth::Context& running, const std::string&) { running.text.replace(0, 3, "uvw"); };
    forth::note_change(ctx);
    forth::evaluate_source(ctx, "( a b ) overwrite .. ) .. ~x .. ) ..", {});
    ctx.text.replace(0, 3, "pqr");
    forth::evaluate_source(ctx, ") ..", {});
    EXPECT_EQ(out.str(), "xyz a b uvw a b a b ");
}
