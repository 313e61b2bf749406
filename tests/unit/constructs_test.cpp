#include "session.hpp"

using forth::testing::check_all;

TEST(Constructs, DefinitionsStringsAndComments) {
    check_all({
        {": sq dup * ; ?", "sq dup *\n", "", ""},
        {":foo\n1 2 + ;\nfoo", "", "", "3 "},
        {":foo ; foo ?foo /two two", "\n", "", ""},
        {"( Hello,   world! ) .. ( ) ..", "Hello, world!  ", "", ""},
        {"/* [ 1 */ 2", "", "", "2 "},
        {"{ ] } /q ?q", "]\n", "", ""},
        {":greet ( hi ) .. ; greet greet", "hi hi ", "", ""},
    });
}

TEST(Constructs, WordsCallThemselvesAndOpenConstructsForTheirCaller) {
    check_all({
        {":down dup . 1- dup { down } iftrue ; 3 down", "3 2 1 ", "", "0 "},
        {":mk :sq ; mk dup * ; 3 sq", "", "", "9 "},
    });
}

TEST(Constructs, RedefinitionWhileRunning) {
    check_all({
        // The running word finishes its old body; the next call runs the new one.
        {":w [ 7 ] /w 1 ; w w", "", "", "1 7 "},
        // A redefined closing word runs while its construct is still collecting.
        {":] 42 ; [ 1 ] .buffer execute", "1 42 \n", "", ""},
    });
}
