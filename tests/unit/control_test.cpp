#include "session.hpp"

using forth::testing::check_all;

TEST(Control, TimesCountsPassesIntoI) {
    check_all({
        {"[ $i . ] 3 times $i", "0 1 2 ", "", "2 "},
        {"[ 1 ] 2.9 times [ 2 ] 0.5 times [ 3 ] 1 negate times [ 4 ] 0 0 / times [ 5 ] 2147483648 times", "", "",
         "1 1 "},
        {"7 =i [ 1 ] 0 times $i", "", "", "7 "},
        {"[ { $i . } 2 times ] 3 times", "0 1 0 1 0 1 ", "", ""},
        {"[ 1 0 $nosuch ] 3 times\n$i", "", "Out of range: _Map_base::at\n", "1 0 0 "},
        // fails in a later pass, once the passes run without bookkeeping
        {"[ 7 $i 3 - mod drop ] 10 times\n$i", "", "Domain error: division by zero\n", "3 "},
    });
}

TEST(Control, ConditionalsTestForNonZero) {
    check_all({
        {"{ 1 } 0 1 > iftrue 1 iftrue", "", "", "1 "},
        {"{ 1 } 0 0 / iftrue 0 0 / iffalse 0 negate iffalse", "", "", "1 1 "},
        {"[ 1 ] iftrue", "", "Out of range: stack underflow\n", ""},
        // in a list, each quote is left as the quotation, run or not
        {"[ { 2 } 1 iftrue { 3 } 0 iftrue execute { 4 } 0 iffalse ] execute", "", "", "2 3 4 "},
    });
}

TEST(Control, RepeatRunsBodyThenConditionUntilTheStopValue) {
    check_all({
        {"10 =a { $a . 1 +a } while { $a 5 <= } repeat", "10 ", "", ""},
        {"1 =a { 1 +a } until { $a 5 > } repeat $a", "", "", "6 "},
        {"{ 0 negate } while repeat", "", "", "-0 "},
        {"4 =a { 1 -a $a } while repeat", "", "", "3 1 "},
        {"1 5 repeat", "", "Out of range: stack underflow\n", ""},
        // fails in a later pass, once the passes run without bookkeeping
        {"0 =a { 1 +a 7 $a 4 - mod drop } while { 1 } repeat\n$a", "", "Domain error: division by zero\n", "4 "},
        // an empty body, and a body that underflows in a later pass
        {"[ { } until { 1 } repeat 2 ] execute", "", "", "2 "},
        {"1 2 3 [ { drop drop } while { depth } repeat ] execute", "", "Out of range: stack underflow\n", ""},
    });
}
