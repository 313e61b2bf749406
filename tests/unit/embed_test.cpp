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
        EXPECT_TRUE(ctx.runtime.frames.empty());
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
    forth::define_word(session.ctx, "stop", [](forth::Context&) { forth::request_interrupt(); });
    const forth::Outcome outcome = session.run("0 =n 7\n[ 1 +n $n 3 = { stop } iftrue ] 1000 times 8");
    EXPECT_EQ(outcome.report, "Interrupted");
    EXPECT_EQ(session.err.str(), "Interrupted\n  at test.tv:2: times\n");
    EXPECT_EQ(forth::interrupt_requested, 0);
    EXPECT_TRUE(session.run("$n .").ok);
    EXPECT_EQ(session.out.str(), "3 ");
    EXPECT_EQ(session.stack(), std::vector<double>{7});
}

TEST(Embed, TheStackAndTheOpenConstructReadBack) {
    Embedded session;
    session.run("1 2 [ 3");
    EXPECT_EQ(forth::closing_word(session.ctx), "]");
    session.run("] :sq dup");
    EXPECT_EQ(forth::closing_word(session.ctx), ";");
    session.run("* ; 3 sq");
    EXPECT_EQ(forth::closing_word(session.ctx), "");
    EXPECT_EQ(session.stack(), (std::vector<double>{1, 2, 9}));
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
        forth::request_interrupt();
        forth::evaluate_source(ctx, "1", {"inner.tv", 1});
    });
}

TEST(Embed, AnErrorIsLocatedAtItsTopLevelTokenInTheInnermostSource) {
    const struct {
        const char* text;
        forth::Source source;
        std::string_view where;
    } cases[] = {
        {"1 2 + nosuch", {"prog.tv", 7}, "prog.tv:7: nosuch"},
        {"1\n2\r\n\n 3 + drop  drop drop", {"<command line>", 1}, "<command line>:4: drop"},
        {":f drop drop ;\n1 2 f\n  1 f", {"prog.tv", 1}, "prog.tv:3: f"},
        {"[ drop\ndrop ]\n1 execute", {"prog.tv", 1}, "prog.tv:3: execute"},
        {"0 inner", {"outer.tv", 3}, "inner.tv:11: nosuch"},
        {"tolerant drop drop", {"outer.tv", 1}, "outer.tv:1: drop"},
        {"1 stillborn", {"outer.tv", 1}, "outer.tv:1: stillborn"},
    };
    for (const auto& expected : cases) {
        SCOPED_TRACE(expected.text);
        Embedded session;
        define_source_words(session.ctx);
        const forth::Outcome outcome = session.run(expected.text, expected.source);
        ASSERT_TRUE(outcome.location);
        const forth::ErrorLocation& at = *outcome.location;
        EXPECT_EQ(at.source + ':' + std::to_string(at.line) + ": " + at.token, expected.where);
    }
}

TEST(Embed, LinesRunOneAtATimeUntilTheFirstError) {
    Embedded session;
    std::istringstream program("1 \\ a comment ends its line only\n2 nosuch 3\n4\n");
    const forth::Outcome outcome =
        forth::catch_errors(session.ctx, [&] { forth::evaluate_lines(session.ctx, program, {"prog.tv", 5}); });
    forth::write_report(session.ctx, outcome, true);
    EXPECT_EQ(session.err.str(), "Domain error: unknown word - nosuch\n  at prog.tv:6: nosuch\n");
    EXPECT_EQ(session.stack(), (std::vector<double>{1, 2}));
}

}  // namespace
