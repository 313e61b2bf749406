#include <limits>
#include <locale>
#include <sstream>

#include "session.hpp"

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
