#include <limits>
#include <locale>
#include <sstream>

#include "session.hpp"

using forth::testing::check_all;

// Rows the language reference does not state: min, max and mod run in a
// list fused with what comes before them, and must act as they do alone.
TEST(Vocabulary, FusedArithmeticActsAsTheWordsAlone) {
    check_all({
        // min and max give the top value when their test fails, and so the sign of a zero
        {"0 negate =m 0 0 negate min 0 negate 0 min [ 0 $m max $m 0 max 0 $m min $m 0 min ] execute",
         "", "", "-0 0 -0 0 -0 0 "},
        {"0 negate =m [ 0 dup $m min $m dup 0 max $m 0 max not ] execute", "", "", "0 -0 -0 0 1 "},
        {"5 0 0 / max 0 0 / 5 max 5 0 0 / min", "", "", "-nan 5 -nan "},
        // mod fails having taken both operands, as it does alone
        {"3 =v [ 7 2 mod $v 2 mod 8 $v mod 9 dup 4 mod 2147483648 negate 1 negate mod ] execute", "", "", "1 1 2 9 1 0 "},
        {"0 =z [ 1 5 0 mod ] execute\n[ 2 $z 0 mod ] execute\n[ 3 4 $z mod ] execute\n[ 4 5 dup 0 mod ] execute",
         "", "Domain error: division by zero\nDomain error: division by zero\nDomain error: division by zero\n"
         "Domain error: division by zero\n", "1 2 3 4 5 "},
        {"[ 1 2147483648 3 mod ] execute\n[ 2 3 2147483648 mod ] execute",
         "", "Out of range: integer out of range\nOut of range: integer out of range\n", "1 2 "},
    });
}

// . and .s write a whole number short enough from its digits, and every
// other number, or any number on a stream set otherwise, through the stream.
TEST(Vocabulary, NumbersPrintAsTheStreamFormatsThem) {
    const double values[] = {0, -0.0, 1, -1, 42, 999999, -999999, 1e6, -1e6, 999999.5, 0.5, -0.5, 1e-7,
                             123456789, 2147483648.0, -2147483649.0, 1e300, std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()};
    struct Grouping : std::numpunct<char> {
        std::string do_grouping() const override { return "\3"; }
        char do_thousands_sep() const override { return ','; }
    };
    for (const int setting : {0, 1, 2, 3}) {
        forth::Context ctx;
        forth::load_builtins(ctx);
        std::ostringstream out, expected;
        if (setting == 1) out << std::showpos;
        if (setting == 2) out.precision(3);
        if (setting == 3) out.imbue(std::locale(out.getloc(), new Grouping));
        expected.copyfmt(out);
        ctx.out = &out;
        for (const double value : values) {
            ctx.stack.push_back(value);
            expected << value << ' ';
        }
        forth::evaluate(ctx, ".s");
        for (std::size_t count = std::size(values); count-- > 0;) forth::evaluate(ctx, ".");
        std::string reversed;
        for (auto value = std::rbegin(values); value != std::rend(values); ++value) {
            std::ostringstream one;
            one.copyfmt(out);
            one << *value << ' ';
            reversed += one.str();
        }
        EXPECT_EQ(out.str(), expected.str() + "\n" + reversed);
    }
}
