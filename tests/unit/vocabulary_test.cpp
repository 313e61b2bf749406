#include <limits>
#include <locale>
#include <sstream>

#include "session.hpp"

using forth::testing::check_all;

TEST(Vocabulary, StackWordsCheckTheirDepthFirst) {
    check_all({
        {"depth 1 2 depth", "", "", "0 1 2 3 "},
        {"1 2 3 rot 0 -rot 2dup over", "", "", "2 0 3 1 3 1 3 "},
        {"0 negate 0 0 / swap dup", "", "", "-nan -0 -0 "},
        {"drop", "", "Out of range: stack underflow\n", ""},
        {"dup", "", "Out of range: Stack underflow in dup\n", ""},
        {"1 swap", "", "Out of range: Stack underflow in swap\n", "1 "},
        {"1 2 rot", "", "Out of range: Stack underflow in rot\n", "1 2 "},
        {"1 2 -rot", "", "Out of range: Stack underflow in -rot\n", "1 2 "},
        {"1 2dup\nover", "", "Out of range: Stack underflow in 2dup\nOut of range: Stack underflow in over\n", "1 "},
        {"9 +", "", "Out of range: stack underflow\n", ""},
    });
}

TEST(Vocabulary, ArithmeticFollowsIeee) {
    check_all({
        {"7 3 - 7 2 / 3 4 < 3 4 > 4 4 <= 4 4 >=", "", "", "4 3.5 1 0 1 1 "},
        {"1 0 / 1 negate 0 / 0 0 / dup = 0 0 / dup <>", "", "", "inf -inf 0 1 "},
        {"0 negate abs 5 negate abs 0 0 / negate", "", "", "-0 5 nan "},
        {"3 5 min 3 5 max 0 0 negate max 0 negate 0 max", "", "", "3 5 -0 0 "},
        // min and max give the top value when their test fails, and so the sign of a zero,
        // however the compiled list runs them
        {"0 negate =m 0 0 negate min 0 negate 0 min [ 0 $m max $m 0 max 0 $m min $m 0 min ] execute",
         "", "", "-0 0 -0 0 -0 0 "},
        {"0 negate =m [ 0 dup $m min $m dup 0 max $m 0 max not ] execute", "", "", "0 -0 -0 0 1 "},
        {"5 0 0 / max 0 0 / 5 max 5 0 0 / min", "", "", "-nan 5 -nan "},
        {"0 not 0 negate not 5 not 1 0 and 0.5 0 or 6 3 and", "", "", "1 1 0 0 1 1 "},
    });
}

TEST(Vocabulary, IntegerWordsTruncateTo32Bits) {
    check_all({
        {"7 negate 2 mod 7 2 negate mod 7.9 2.5 mod", "", "", "-1 1 1 "},
        {"7 2 /mod 7 negate 2 /mod", "", "", "1 3 -1 -3 "},
        {"2147483648 negate 1 negate /mod", "", "", "0 2.14748e+09 "},
        {"2147483647 10 mod 2147483648 negate 10 mod 2147483647.9 10 mod", "", "", "7 -8 7 "},
        {"5 0.5 mod", "", "Domain error: division by zero\n", ""},
        {"2147483648 1 /mod\n2147483649 negate 1 mod\n2147483648.5 negate 1 mod",
         "", "Out of range: integer out of range\nOut of range: integer out of range\n", "0 "},
        {"0 0 / emit\n1 0 / spaces", "", "Out of range: integer out of range\nOut of range: integer out of range\n", ""},
        // In a list mod runs with the number, variable or dup before it, and
        // fails having taken both operands, as it does alone.
        {"3 =v [ 7 2 mod $v 2 mod 8 $v mod 9 dup 4 mod 2147483648 negate 1 negate mod ] execute", "", "", "1 1 2 9 1 0 "},
        {"0 =z [ 1 5 0 mod ] execute\n[ 2 $z 0 mod ] execute\n[ 3 4 $z mod ] execute\n[ 4 5 dup 0 mod ] execute",
         "", "Domain error: division by zero\nDomain error: division by zero\nDomain error: division by zero\n"
         "Domain error: division by zero\n", "1 2 3 4 5 "},
        {"[ 1 2147483648 3 mod ] execute\n[ 2 3 2147483648 mod ] execute",
         "", "Out of range: integer out of range\nOut of range: integer out of range\n", "1 2 "},
    });
}

TEST(Vocabulary, OutputFormatsAndListings) {
    check_all({
        {"7 . 1 3 / . 1000000 . 1234567 . 0.0001 . 0.00001 . 999999.5 .",
         "7 0.333333 1e+06 1.23457e+06 0.0001 1e-05 1e+06 ", "", ""},
        {"65 emit 321 emit 65.9 emit 191 negate emit 0 spaces 2 negate spaces 2.9 spaces", "AAAA  ", "", ""},
        {"1 2 .s . .s", "1 2 \n2 1 \n", "", "1 "},
        {".", "", "Out of range: stack underflow\n", ""},
        {"sigils aliases", "@ ? / ' $ : - + = \nfalse true \n", "", ""},
    });
}

TEST(Vocabulary, VariablesAndReferences) {
    check_all({
        {"3 =a 4 =a $a 5 +c 5 -d $c $d", "", "", "4 5 -5 "},
        {"=f\n$f", "", "Out of range: stack underflow\n", "0 "},
        {"+g\n$g", "", "Out of range: stack underflow\nOut of range: _Map_base::at\n", ""},
        {"0 0 / =$x 1 =dup $$x dup", "", "", "-nan -nan "},
        {"?dup ?bye 'dup /twin ?twin 5 twin", "(native code)\n(native code)\ndup\n", "", "5 5 "},
        {":h 1 ; 'h :h 2 ; execute", "", "", "1 "},
        {"[ 1 ] 'nosuch\n'true\n'\nexecute",  "",
         "Domain error: unknown word - nosuch\nDomain error: unknown word - true\nDomain error: unknown word - \n",
         "1 "},
        {":sq dup * ; @square 3 square", "", "", "9 "},
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
