// Compiled token lists keep what they looked up; each rule below is a way
// the tables or the construct state change under a running list, and the
// list must behave as if every token were looked up again.
#include "core/retired.hpp"
#include "core/trap.hpp"
#include "session.hpp"

using forth::testing::check_all;

namespace {

// An interpreter with a word `raise` that asks it to stop.
struct Raising : forth::Context {
    Raising() {
        forth::load_builtins(*this);
        forth::define_word(*this, "raise", [](forth::Context& ctx) { forth::request_interrupt(ctx); });
    }
};

}  // namespace

TEST(Cache, RedefinitionsTakeEffectAtTheNextToken) {
    check_all({
        // inside a running loop, and inside a running body
        {":f 1 ; [ f :f 2 ; f ] 2 times", "", "", "1 2 2 2 "},
        {":f 1 ; :g f [ 3 ] /f f ; g g", "", "", "1 3 3 3 "},
        // a word that needs no frame, redefined into one that does, also
        // between two runs of a loop whose passes ran without bookkeeping
        {":f 1+ ; :run3 [ f ] 3 times ; 0 run3 :f [ 10 + ] execute ; run3", "", "", "33 "},
        {":inc 1+ ; :twice inc inc ; [ 0 twice ] execute :inc [ 10 + ] execute ; [ 0 twice ] execute", "", "", "2 20 "},
        // and in a quote that iftrue ran in place
        {":f 1+ ; :g { f } iftrue ; 0 1 g :f [ 10 + ] execute ; 1 g", "", "", "11 "},
        // and in a quote that only calls a word, which iftrue enters directly
        {":f 1 [ ] execute ; :g { f } iftrue ; 1 g :f 2 [ ] execute ; 1 g", "", "", "1 2 "},
        // and a loop whose body and condition run as one code, even when
        // its condition (left in the quotation, run by execute) is current
        {":inc 1+ ; :f 0 { inc } while { dup 3 < } repeat ; f :inc 2 + ; execute f", "", "", "3 0 4 "},
        // and one body that two repeat loops run, each with its own condition
        {"0 { 1+ } while { dup 5 < } repeat 0 { dup 10 < } repeat", "", "", "10 "},
        // and in the list that a loop, or a call that took its callee's
        // frame over, returns to
        {":g 1 ; :a { [ 2 ] /g } 1 times g ; a", "", "", "2 "},
        {":g 1 ; :c [ 2 ] /g ; :b 0 drop c ; :a b g ; a", "", "", "2 "},
        // a built-in used inline, replaced
        {"[ 1 2 + ] /s s :+ * ; s", "", "", "3 2 "},
    });
}

// A conditional's list that calls runs spliced into its caller's code, in
// a frame of its own: stopped inside by a change, an open construct or a
// short stack, it goes on in its own list, then its caller after it.
TEST(Cache, SplicedListsGoOnInTheirOwnList) {
    check_all({
        // redefined by a call inside it, and as its caller's last act
        {":f 1 ; :redo [ 2 ] /f ; :g dup { f redo f 0 } iftrue drop ; 1 g :f 1 ; 1 g", "", "", "1 1 2 1 1 2 "},
        {":f 1 ; :redo [ 2 ] /f ; :g { f redo f } iffalse ; 0 g :f 1 ; 0 g", "", "", "1 2 1 2 "},
        // a construct that a call inside opens collects the rest of the list, then the caller's
        {":o [ ; :g { o 1 2 } iftrue 3 ] execute ; 1 g 1 g", "", "", "1 2 3 1 2 3 "},
        // a stack too short for what follows a call, or for what it begins with
        {":h ; :g { h + } iftrue ; 1 g", "", "Out of range: stack underflow\n", ""},
        {":h ; :g { + h } iftrue ; 7 1 g", "", "Out of range: stack underflow\n", ""},
        // what follows it, checked with its last run, or anew when skipped
        {":h ; :g dup { h 1 swap } iftrue + ; 2 g 0 g", "", "", "3 "},
        {":h ; :g dup { h 1 swap } iftrue + ; 0 g", "", "Out of range: stack underflow\n", ""},
    });
}

TEST(Cache, NewNamesShadowSigilsNumbersAndWords) {
    check_all({
        // a word reached through an alias, in a step made of several tokens
        {"( < ) @lt [ 3 2 lt ] /r r :< 7 ; r", "", "", "0 3 2 7 "},
        {"( iftrue ) @it [ 1 { 5 } it ] /r r :iftrue drop 6 ; r", "", "", "5 6 "},
        {"0 =x [ $x :$x 9 ; $x ] execute", "", "", "0 9 "},
        {":w 1 ; [ w ( 2 ) @w w ( 3 ) @w w ] execute", "", "", "1 2 3 "},
        {"[ 5 =c :=c 8 ; 6 =c ] execute $c", "", "", "6 8 5 "},
    });
}

TEST(Cache, VariablesCreatedAfterCompiling) {
    check_all({
        {"[ 2 +y ] /r r r $y", "", "", "4 "},
        {"[ =f ] /r r\n$f", "", "Out of range: stack underflow\n", "0 "},
        // made by the loop's first pass; the next passes find it, one value left to take
        {"{ 1 -b } 3 times $b", "", "", "-3 "},
        {"{ 7 =b } 3 times $b", "", "", "7 "},
    });
}

TEST(Cache, ConstructsRunWholeOnlyWithTheBuiltInClosingWord) {
    check_all({
        // the user's closing word runs while its construct still collects
        {"[ { 1 } execute ] /r r :} 42 ; r .buffer", "1 42 \n", "", "1 1 "},
        {"[ ( a b ) .. ] /r r :) 5 ; r .buffer", "a b ) a b 5 \n", "", ""},
        {"[ :w 1 ; w ] /r r :; 0 ; r ;", "", "", "1 1 0 "},
        // an alias that stands for an opening word opens the construct
        {"( [ ) @q { q 1 2 ] execute } execute", "", "", "1 2 "},
        // a construct opened in a body collects the caller's tokens
        {":o [ ; o 1 2 ] execute", "", "", "1 2 "},
    });
}

TEST(Cache, BodiesAndQuotationsAreHeldWhileTheyRun) {
    check_all({
        {":w [ 7 ] /w 1 ; [ w ] 3 times", "", "", "1 7 7 "},
        {":w 1 ; 'w :w 2 ; execute w", "", "", "1 2 "},
        {"[ [ 9 ] 1 ] execute execute ] .buffer", "9 execute \n", "", "1 "},
        // a body left to the buffer alone, collecting into it as it runs
        {":c w ; :w /w /* 1 ;\nc\n2 */ 3", "", "", "3 "},
        {":w 1 2 ; [ 'w ] execute /v v", "", "", "1 2 "},
        // lists that reach one another through their quotes, run through
        // them: through a word, a ring of two or three, an alias, a
        // reference, a named quotation, a loop and text (freed at the end:
        // LeakSanitizer)
        {":d 1- dup { d } +v 0 + ; 5 d\n1 iftrue", "", "", "3 "},
        {":a 1 { b } ; :b 1 { a } ; a execute execute", "", "", "1 1 1 "},
        {":a 1 { b } ; :b 1 { c } ; :c 1 { a } ; a execute execute execute", "", "", "1 1 1 1 "},
        {":a 1 { b } ; ( a ) @b2 :b 1 { b2 } ; a execute execute", "", "", "1 1 1 "},
        {":a 1 { b } ; :b 'a ; a execute execute execute", "", "", "1 1 "},
        {"[ 1 { b } ] /a :b 1 { a } ; a execute execute", "", "", "1 1 1 "},
        {":a 1 { b } 2 times ; :b 1 { a } ; a execute", "", "", "1 1 1 1 1 1 "},
        {":w { 0 } ; w until { w 1 } repeat", "", "", "0 "},
        {":a { b } ; :b { 0 } ; b while { a 0 } repeat", "", "", "0 "},
        {":a 1 { b } ; :b 1 { a } ; accept interpret execute", "", "", "1 1 ", "a"},
    });
}

TEST(Cache, RecursionIsBoundedByACountOfNestedCalls) {
    check_all({
        {":cd 1- dup { cd } iftrue ; 0 cd\n7", "", "Runtime error: recursion too deep\n", "-500000 7 "},
        // every way of calling, and the session goes on after each
        {":a b ; :b a ; 1 a\n:f g ; ( f ) @g 2 g\n3", "",
         "Runtime error: recursion too deep\nRuntime error: recursion too deep\n", "1 2 3 "},
        // the count of calls made before the limit, with the line's own text at the bottom
        {"0 =n :d 1 +n d ; d\n$n", "", "Runtime error: recursion too deep\n", "999999 "},
        // a control word's list is a frame of the running evaluator, not a
        // nested run of it, and as a list's last step it takes over the frame
        {"0 =n :d 1 +n 'd execute ; d\n$n", "", "Runtime error: recursion too deep\n", "999999 "},
        {"0 =n :d 1 +n [ d ] 1 times ; d\n$n", "", "Runtime error: recursion too deep\n", "500000 "},
        // a call that took a frame over is counted until that frame ends,
        // also when it ends token by token
        {":x [ ; :w x ; { w ] } 1000001 times 5", "", "", "5 "},
        // a body run in place takes and leaves what the call would
        {":pop1 drop ; 1 [ pop1 drop ] execute", "", "Out of range: stack underflow\n", ""},
        {":push3 1 2 3 ; [ push3 push3 push3 push3 push3 push3 ] 20 times depth =n clear $n", "", "", "360 "},
        // a call that runs in place counts as one too
        {":inc 1+ ; 0 =n :d 1 +n 0 inc drop d ; d\n$n", "", "Runtime error: recursion too deep\n", "0 999999 "},
        // ... and so does each call inside a call laid out in line
        {":i 1+ ; :e i i ; 0 =n :d 1 +n 0 e drop d ; d\n$n", "", "Runtime error: recursion too deep\n", "0 999998 "},
        // a list spliced into its caller counts as a call of its own, as
        // its caller's last act too
        {":t dup { 1- t } iftrue 0 ; 499999 t depth =n clear\n500000 t\nclear $n", "",
         "Runtime error: recursion too deep\n", "500001 "},
    });
}

// A call is a call, however it runs: each one may be interrupted.
TEST(Cache, EveryCallCanBeInterrupted) {
    for (const char* body : {"", "1+", "i i", "1 [ 2 ] execute"}) {
        SCOPED_TRACE(body);
        Raising ctx;
        forth::evaluate(ctx, std::string(":i 1+ ; :e ") + body + " ; 0");
        EXPECT_THROW(forth::evaluate(ctx, "[ raise e 5 ] execute"), forth::Interrupted);
        EXPECT_EQ(ctx.stack, std::vector<double>{0});
        EXPECT_EQ(ctx.runtime.interrupt_requested, 0);
    }
}

// Without a poll hook, which takes every call's slow road, a list spliced
// in still counts toward the depth as a call.
TEST(Cache, ASplicedListCountsOnTheFastRoad) {
    forth::Context ctx;
    forth::load_builtins(ctx);
    forth::evaluate(ctx, ":u dup { 1- u 0 } iftrue drop ; 499999 u 499999 u");
    EXPECT_THROW(forth::evaluate(ctx, "500000 u"), std::runtime_error);
    forth::evaluate(ctx, ":t dup { 1- t } iftrue ; 499999 t 499999 t");
    EXPECT_THROW(forth::evaluate(ctx, "500000 t"), std::runtime_error);
}

// A list spliced into its caller's code is a call: interrupted before it
// runs anything.
TEST(Cache, ASplicedListCanBeInterrupted) {
    Raising ctx;
    forth::evaluator(ctx).eager = true;
    forth::evaluate(ctx, ":j [ ] execute ; :e raise 1 { 5 j } iftrue ; 0");
    EXPECT_THROW(forth::evaluate(ctx, "e"), forth::Interrupted);
    EXPECT_EQ(ctx.stack, std::vector<double>{0});
}

// So may a huge count of blanks, after a screenful or so.
TEST(Cache, SpacesCanBeInterrupted) {
    Raising ctx;
    const forth::testing::Redirect out(std::cout);
    EXPECT_THROW(forth::evaluate(ctx, "raise 1000000 spaces"), forth::Interrupted);
    EXPECT_LE(out.text().size(), 4096u);
    EXPECT_EQ(ctx.runtime.interrupt_requested, 0);
}

// Bodies replaced while code runs wait on the retired lists, which are
// swept of what no frame runs when they grow long; a Context that ran and
// went is no part of the sweep.
TEST(Cache, ListsReplacedWhileCodeRunsAreSwept) {
    {
        forth::Context gone;
        forth::load_builtins(gone);
        forth::evaluate(gone, "1");
    }
    forth::Context ctx;
    forth::load_builtins(ctx);
    forth::define_word(ctx, "redefine", [](forth::Context& ctx) { forth::evaluate(ctx, ":w 1 ;"); });
    // The lists wait while code runs: how many wait is looked at from inside.
    static std::size_t most_waiting = 0;
    forth::define_word(ctx, "look", [](forth::Context& ctx) {
        most_waiting = std::max(most_waiting, ctx.retired.size());
    });
    forth::evaluate(ctx, "0 [ redefine w + look ] 6000 times");
    EXPECT_EQ(ctx.stack, std::vector<double>{6000});
    // also where the loop's list runs token by token, defining as it goes
    forth::evaluate(ctx, "[ :w 1 ; w - look ] 60000 times");
    EXPECT_EQ(ctx.stack, std::vector<double>{-54000});
    EXPECT_LT(most_waiting, 10000u);
    // A repeat loop's condition, whose last owner the body replaced, stays
    // while the body runs.
    forth::evaluate(ctx, "0 =n { [ redefine ] 6000 times } while { 1 +n $n 2 < } repeat $n");
    EXPECT_EQ(ctx.stack, (std::vector<double>{-54000, 2}));
}

// A word of the embedding program may change the tables too: the list that
// called it looks the next token up again.
TEST(Cache, AWordOfTheEmbedderMayRedefine) {
    forth::Context ctx;
    forth::load_builtins(ctx);
    int definitions = 0;
    forth::define_word(ctx, "define-x", [&definitions](forth::Context& ctx) {
        forth::evaluate(ctx, ":x " + std::to_string(++definitions) + " ;");
    });
    forth::evaluate(ctx, ":x 0 ; [ x define-x x ] /r r r");
    EXPECT_EQ(ctx.stack, (std::vector<double>{0, 1, 1, 2}));
}

// Compiling reads a list once for each closing word, however many
// constructs its opening words leave open; and a list that grows itself as
// it runs costs what it runs. Either done again and again for each opening
// word runs far past the tests' time limit.
TEST(Cache, CompilingIsLinearInTheList) {
    std::string openers;
    for (int count = 0; count < 100'000; ++count) openers += "{ ";
    const std::string unclosed = "[ " + openers + "] execute } execute } depth";
    check_all({{unclosed, "", "", "0 "}});
    // Each pass runs a new list once, which is not compiled.
    forth::Context ctx;
    forth::load_builtins(ctx);
    forth::evaluate(ctx, "1 [ dup { } iftrue dup { ] 4000 times } depth");
    EXPECT_EQ(ctx.stack, (std::vector<double>{1, 1, 2}));
}
