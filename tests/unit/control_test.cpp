#include "session.hpp"

using forth::testing::check_all;

// What the language reference states of times, iftrue and repeat its examples
// check; here, loops failing in a later pass, once the passes run without
// bookkeeping, and constructs changed while they run.
TEST(Control, LoopsFailInALaterPassAsInTheFirst) {
    check_all({
        {"[ 1 0 $nosuch ] 3 times\n$i", "", "Out of range: _Map_base::at\n", "1 0 0 "},
        {"[ 7 $i 3 - mod drop ] 10 times\n$i", "", "Domain error: division by zero\n", "3 "},
        {"[ 7 $i 4 - mod drop ] 10 times\n$i", "", "Domain error: division by zero\n", "4 "},
        // a pass's index is the loop's, whatever the pass before did to i,
        // and every count of passes ends where it should
        {"[ $i 10 + =i $i ] 3 times $i", "", "", "10 11 12 12 "},
        {"0 [ { $i + } $i times ] 6 times", "", "", "20 "},
        {"0 =a { 1 +a 7 $a 4 - mod drop } while { 1 } repeat\n$a", "", "Domain error: division by zero\n", "4 "},
        {"[ { } until { 1 } repeat 2 ] execute", "", "", "2 "},
        {"1 2 3 [ { drop drop } while { depth } repeat ] execute", "", "Out of range: stack underflow\n", ""},
        {"[ { 2 } 1 iftrue { 3 } 0 iftrue execute { 4 } 0 iffalse ] execute", "", "", "2 3 4 "},
    });
}

TEST(Control, RedefinitionWhileRunning) {
    check_all({
        // A redefined closing word runs while its construct is still collecting.
        {":] 42 ; [ 1 ] .buffer execute", "1 42 \n", "", ""},
        {":mk :sq ; mk dup * ; 3 sq", "", "", "9 "},
    });
}

// A list that iftrue or iffalse runs in place, where it changes the depth:
// what follows finds the depth the flag left, checked anew, whether the
// list ran or not, in the word's own body and in a caller's.
TEST(Control, ListsRunInPlaceLeaveTheDepthTheFlagDecided) {
    check_all({
        {":f [ 1 2 ] iffalse + ; 7 0 f drop drop\n5 1 f", "", "Out of range: stack underflow\n", ""},
        {":f [ 1 2 ] iffalse + ; 7 0 f drop drop\n5 0 f", "", "", "5 3 "},
        {":h [ 1 2 ] iftrue ; :k h + ; 7 1 k drop drop\n5 0 k", "", "Out of range: stack underflow\n", ""},
        {":f [ drop ] iftrue 1+ ; 4 5 1 f 1 0 f", "", "", "5 2 "},
        {"[ $i 2 mod { 9 } iftrue ] 4 times", "", "", "9 9 "},
    });
}

// A repeat loop whose condition is dup alone tests the top where it stands,
// with no copy: it must leave what the copy and its test would, stop at -0
// as at 0 (or at 1, under until), and fail as dup does when the body
// leaves nothing to copy.
TEST(Control, ADupConditionIsTestedWithoutACopy) {
    check_all({
        {":ds 0 swap { 10 /mod -rot + swap } while { dup } repeat drop ; 1234 ds 99 ds", "", "", "10 18 "},
        {":n { drop 0 negate } while { dup } repeat ; 5 n 5 n", "", "", "-0 -0 "},
        {":u { 1+ } until { dup } repeat ; 0 u 0 u", "", "", "1 1 "},
        {":e { drop } while { dup } repeat ; 7 e\n7 e", "",
         "Out of range: Stack underflow in dup\nOut of range: Stack underflow in dup\n", ""},
    });
}

// A divisor written before mod or /mod is checked as the code is compiled;
// one the word cannot take must still fail as the word does, and one it can
// must still truncate both operands.
TEST(Control, DivisorsWrittenInTheCodeFailAsTheWordDoes) {
    check_all({
        {":f 0 mod ; 1 2 f", "", "Domain error: division by zero\n", "1 "},
        {":f dup 0 /mod ; 1 2 f", "", "Domain error: division by zero\n", "1 2 "},
        {":f $a 0 mod ; 5 =a 1 f", "", "Domain error: division by zero\n", "1 "},
        {":f 0.5 /mod ; 1 2 f", "", "Domain error: division by zero\n", "1 "},
        {":f 2147483648 mod ; 1 2 f", "", "Out of range: integer out of range\n", "1 "},
        {":f nan /mod ; 1 2 f", "", "Out of range: integer out of range\n", "1 "},
        {":f 7 mod ; 1 2147483648 f", "", "Out of range: integer out of range\n", "1 "},
        {":f 3.9 /mod ; 0 7.9 - f 7.9 f", "", "", "-1 -2 1 2 "},
    });
}
