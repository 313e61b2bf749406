#include "session.hpp"

using forth::testing::check_all;

TEST(Reflective, AcceptFeedsParseNameNumberAndInterpret) {
    check_all({
        {"accept interpret .", "3 ", "", "", "1 2 +\n"},
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

TEST(Reflective, ExecuteRunsTheQuotationItHadWhenItBegan) {
    check_all({
        {"[ 1 2 + ] execute execute", "", "", "3 3 "},
        {"5 'dup execute", "", "", "5 5 "},
        {"{ 'dup 1 } execute execute", "", "", "1 1 "},
    });
}
