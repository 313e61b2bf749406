#include "session.hpp"

using forth::testing::check_all;

// What the language reference states of times, iftrue and repeat its examples
// check; here, loops failing in a later pass, once the passes run without
// bookkeeping, and constructs changed while they run.
TEST(Control, LoopsFailInALaterPassAsInTheFirst) {
    check_all({
        {"[ 1 0 $nosuch ] 3 times\n$i", "", "Out of range: _Map_base::at\n", "1 0 0 "},
        {"[ 7 $i 3 - mod drop ] 10 times\n$i", "", "Domain error: division by zero\n", "3 "},
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
