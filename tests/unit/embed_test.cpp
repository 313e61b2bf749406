#include <algorithm>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "engine/embed.hpp"
#include "session.hpp"

namespace {

using forth::testing::Redirect;

// An interpreter whose streams are strings, as a page in a browser keeps it.
struct Embedded {
    forth::Context ctx;
    std::ostringstream out, err;
    std::istringstream in;

    explicit Embedded(std::string input = {}) : in(std::move(input)) {
        forth::load_builtins(ctx);
        forth::add_shell_words(ctx);
        ctx.out = &out;
        ctx.err = &err;
        ctx.in = &in;
    }

    forth::Outcome run(const std::string& text, forth::Source source = {"test.tv", 1}) {
        forth::Outcome outcome = forth::try_evaluate(ctx, text, source);
        forth::write_report(ctx, outcome, true);
        EXPECT_TRUE(forth::evaluator(ctx).frames.empty());
        return outcome;
    }

    std::vector<double> stack() const {
        const std::span<const double> values = forth::stack_values(ctx);
        return {values.begin(), values.end()};
    }
};

TEST(Embed, EveryWordUsesTheContextsStreams) {
    const Redirect standard_in(std::cin, "not for accept\n"), standard_out(std::cout), standard_err(std::cerr);
    Embedded session("6 7 *\nsecond line\n");
    EXPECT_TRUE(session.run("words sigils aliases").ok);
    const std::string listed = session.out.str();
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 3);
    session.out.str("");
    EXPECT_TRUE(session.run(":sq dup * ; 3 sq . 65 emit 2 spaces ( text ) .. .s ?sq ?+ cr").ok);
    EXPECT_TRUE(session.run("[ 1 2 ] .buffer accept interpret . accept .input").ok);
    EXPECT_FALSE(session.run("nosuch").ok);
    EXPECT_EQ(session.out.str(), "9 A  text \ndup *\n(native code)\n\n1 2 \n42 second line\n");
    EXPECT_EQ(session.err.str(), "Domain error: unknown word - nosuch\n  at test.tv:1: nosuch\n");
    EXPECT_EQ(standard_out.text(), "");
    EXPECT_EQ(standard_err.text(), "");
    std::string line;
    std::getline(std::cin, line);
    EXPECT_EQ(line, "not for accept");
}

TEST(Embed, AnInterruptStopsTheRunningLoopAndKeepsWhatItDid) {
    Embedded session;
    forth::define_word(session.ctx, "stop", [](forth::Context& ctx) { forth::request_interrupt(ctx); });
    const forth::Outcome outcome = session.run("0 =n 7\n[ 1 +n $n 3 = { stop } iftrue ] 1000 times 8");
    EXPECT_EQ(outcome.report, "Interrupted");
    EXPECT_EQ(session.err.str(), "Interrupted\n  at test.tv:2: times\n");
    EXPECT_EQ(session.ctx.runtime.interrupt_requested, 0);
    EXPECT_TRUE(session.run("$n .").ok);
    EXPECT_EQ(session.out.str(), "3 ");
    EXPECT_EQ(session.stack(), std::vector<double>{7});
}

// A request stops the code of its own interpreter alone; one made while
// nothing runs there was meant for code that has ended, and is dropped.
TEST(Embed, AnInterruptBelongsToOneInterpreterAndToWhatRuns) {
    Embedded one, other;
    forth::define_word(one.ctx, "stop-other", [&other](forth::Context&) { forth::request_interrupt(other.ctx); });
    EXPECT_TRUE(one.run("[ stop-other ] 3 times 1").ok);
    EXPECT_TRUE(other.run("[ 2 ] 2 times 1 2 + . cr").ok);
    EXPECT_EQ(other.out.str(), "3 \n");
    forth::define_word(other.ctx, "stop", [](forth::Context& ctx) { forth::request_interrupt(ctx); });
    EXPECT_EQ(other.run("stop [ 3 ] execute").report, "Interrupted");
    EXPECT_EQ(one.stack(), std::vector<double>{1});
    EXPECT_EQ(other.stack(), (std::vector<double>{2, 2}));
}

// Returns that each collect the rest of their list may follow one another
// with no call between them: each polls, so that the buffer grows by one
// list's rest at most between two polls.
TEST(Embed, AListEndingWhileACollectionGrowsPolls) {
    Embedded session;
    EXPECT_TRUE(session.run(":c 1- dup { c } iftrue [ a b c d ; { }").ok);
    std::vector<std::size_t> seen{0};
    forth::set_poll_hook(session.ctx, [&seen](forth::Context& ctx) { seen.push_back(ctx.buffer.size()); });
    EXPECT_TRUE(session.run("50 c").ok);
    seen.push_back(session.ctx.buffer.size());
    EXPECT_EQ(seen.back(), 4 + 49 * 5);
    for (std::size_t at = 1; at < seen.size(); ++at) EXPECT_LE(seen[at], seen[at - 1] + 5);
}

// A call after a straight run enters its callee past the guard the run
// proves; a poll hook that empties the stack at the call leaves nothing
// proven, and the callee fails as its tokens would, reading nothing below.
TEST(Embed, APollHookThatTakesValuesLeavesACallUnproven) {
    Embedded session;
    forth::track_places(session.ctx);
    EXPECT_TRUE(session.run(":g + 0 { drop } iftrue ; :f 1 + 1 g ; 5 f 5 f").ok);
    EXPECT_EQ(session.stack(), (std::vector<double>{7, 7}));
    session.run("drop drop");
    // Polled at the call of f (5), then at the call of g (6 1).
    bool cleared = false;
    forth::set_poll_hook(session.ctx, [&cleared](forth::Context& ctx) {
        if (ctx.stack.size() == 2) cleared = (ctx.stack.clear(), true);
    });
    const forth::Outcome outcome = session.run("5 f");
    EXPECT_TRUE(cleared);
    EXPECT_EQ(outcome.report, "Out of range: stack underflow");
    ASSERT_TRUE(outcome.location);
    EXPECT_EQ(outcome.location->token, "+");
    EXPECT_EQ(session.stack(), std::vector<double>{});
}

// A file is read a block at a time; a last block of one byte is read too.
TEST(Embed, EveryByteOfAFileIsRead) {
    for (const std::string& text : {std::string("x"), std::string(1 << 16, ' ') + "x"}) {
        Embedded session;
        std::istringstream lines(text);
        const auto read = [&] { forth::evaluate_lines(session.ctx, lines, {"f.tv"}); };
        EXPECT_EQ(forth::catch_errors(session.ctx, read).report, "Domain error: unknown word - x");
    }
}

// A word that evaluates text of its own source, as included does with a file.
void define_source_words(forth::Context& ctx) {
    forth::define_word(ctx, "inner", [](forth::Context& ctx) {
        forth::evaluate_source(ctx, "1\n2 nosuch", {"inner.tv", 10});
    });
    // Whatever fails inside stays inside, as a front end's own word may do.
    forth::define_word(ctx, "tolerant", [](forth::Context& ctx) {
        EXPECT_FALSE(forth::catch_errors(ctx, [&] { forth::evaluate_source(ctx, "5 nosuch", {"inner.tv", 1}); }).ok);
    });
    // Stopped before a token of its own ran.
    forth::define_word(ctx, "stillborn", [](forth::Context& ctx) {
        forth::request_interrupt(ctx);
        forth::evaluate_source(ctx, "1", {"inner.tv", 1});
    });
}

// A place as the reports write it, with its column, and its callers.
std::string placed(const forth::ErrorLocation& at) {
    std::string text;
    const auto add = [&text](const forth::Place& place) {
        if (place.left_out != 0) {
            text += "... " + std::to_string(place.left_out);
            return;
        }
        text += place.source + ':' + std::to_string(place.line) + '.' + std::to_string(place.column) + ' ' +
                place.token + (place.times > 1 ? " x" + std::to_string(place.times) : "");
    };
    add(at);
    for (const forth::Place& caller : at.callers) add((text += " < ", caller));
    return text;
}

// Untracked, at the token running at the top level of the innermost
// source; tracked, at the token that failed, with the calls that led there.
TEST(Embed, AnErrorIsLocatedInTheInnermostSource) {
    const struct {
        const char* text;
        forth::Source source;
        std::string_view where, tracked;
    } cases[] = {
        {"1\n2\r\n\n 3 + drop  drop drop", {"<command line>", 1}, "<command line>:4.16 drop",
         "<command line>:4.16 drop"},
        {":f drop drop ;\n1 2 f\n  1 f", {"prog.tv", 1}, "prog.tv:3.4 f", "prog.tv:1.8 drop < prog.tv:3.4 f"},
        {"[ drop\ndrop ]\n1 execute", {"prog.tv", 1}, "prog.tv:3.2 execute",
         "prog.tv:2.0 drop < prog.tv:3.2 execute"},
        {":g 1- dup { g } iftrue nosuch ;\n3 g", {"p.tv", 1}, "p.tv:2.2 g",
         "p.tv:1.23 nosuch < p.tv:1.12 g < p.tv:1.16 iftrue < p.tv:1.12 g < p.tv:1.16 iftrue < p.tv:2.2 g"},
        {":d 1- dup { nosuch } iffalse d ;\n:e 9 d ;\ne", {"p.tv", 1}, "p.tv:3.0 e",
         "p.tv:1.12 nosuch < p.tv:1.21 iffalse < p.tv:1.29 d x8 < p.tv:2.5 d < p.tv:3.0 e"},
        {"0 inner", {"outer.tv", 3}, "inner.tv:11.2 nosuch", "inner.tv:11.2 nosuch < outer.tv:3.2 inner"},
        {"tolerant drop drop", {"outer.tv", 1}, "outer.tv:1.14 drop", "outer.tv:1.14 drop"},
        {"1 stillborn", {"outer.tv", 1}, "outer.tv:1.2 stillborn", "outer.tv:1.2 stillborn"},
    };
    for (const bool tracked : {false, true}) {
        for (const auto& expected : cases) {
            SCOPED_TRACE(expected.text);
            Embedded session;
            if (tracked) forth::track_places(session.ctx);
            define_source_words(session.ctx);
            const forth::Outcome outcome = session.run(expected.text, expected.source);
            ASSERT_TRUE(outcome.location);
            EXPECT_EQ(placed(*outcome.location), tracked ? expected.tracked : expected.where);
        }
    }
}

// Past two dozen places only the outermost is kept, after a count; and a
// run ended by what no report catches leaves no chain to the next error.
TEST(Embed, ALongChainKeepsItsEnds) {
    Embedded session;
    forth::track_places(session.ctx);
    forth::define_word(session.ctx, "halt", [](forth::Context&) { throw 0; });
    EXPECT_THROW(session.run(":h halt ; h"), int);
    std::string program = ":w0 nosuch ;";
    for (int level = 1; level <= 30; ++level) {
        program += " :w" + std::to_string(level) + " w" + std::to_string(level - 1) + " 1 ;";
    }
    const forth::Outcome outcome = session.run(program + "\nw30");
    ASSERT_TRUE(outcome.location);
    const std::vector<forth::Place>& callers = outcome.location->callers;
    ASSERT_EQ(callers.size(), 25);
    EXPECT_EQ(callers[22].token, "w22");
    EXPECT_EQ(callers[23].left_out, 7);
    EXPECT_EQ(placed({callers.back(), {}}), "test.tv:2.0 w30");
}

}  // namespace

// A trace learns each token's place and depth, and a recording the recent
// calls, in time independent of the depth: a recursion 20,000 calls deep
// is looked at, token by token, from its top.
TEST(Embed, ATraceLooksAtTheTopCallsAlone) {
    Embedded session;
    std::size_t deepest = 0;
    std::vector<forth::Place> recent;
    forth::set_trace(session.ctx, [&](forth::Context& ctx) {
        const forth::RunningToken running = forth::running_token(ctx);
        if (running.depth <= deepest) return;
        deepest = running.depth;
        recent = forth::recent_places(ctx, 3);
    });
    EXPECT_TRUE(session.run(":d 1- dup { d } iftrue ;\n20000 d").ok);
    EXPECT_EQ(deepest, 39999);
    std::string chain;
    for (const forth::Place& place : recent) chain += placed({place, {}}) + " | ";
    EXPECT_EQ(chain, "test.tv:1.3 1- | test.tv:1.12 d | test.tv:1.16 iftrue | ... 39996 | test.tv:2.6 d | ");
}
