#include <map>
#include <sstream>

#include "app/profile_report.hpp"
#include "engine/profile.hpp"
#include "session.hpp"

namespace {

struct Profiled {
    std::map<std::string, std::uint64_t> stacks;  // collapsed stacks and their steps
    forth::ProfileSummary summary;
    std::string output;

    const forth::ProfileRow& row(const std::string& name) const {
        for (const forth::ProfileRow& each : summary.rows) {
            if (each.name == name) return each;
        }
        ADD_FAILURE() << "no row " << name;
        static const forth::ProfileRow none;
        return none;
    }
    double share(const std::string& name, bool total = false) const {
        return static_cast<double>(total ? row(name).total : row(name).self) / static_cast<double>(summary.steps);
    }
    // Each word named ran so many times.
    void expect_calls(std::initializer_list<std::pair<std::string, std::uint64_t>> counts) const {
        for (const auto& [name, calls] : counts) EXPECT_EQ(row(name).calls, calls) << name;
    }
};

// `lines` run one by one in a fresh interpreter, profiled: by instructions
// as always, or with every list run token by token.
Profiled profiled(std::initializer_list<std::string> lines, bool by_tokens = false) {
    forth::Context ctx;
    forth::load_builtins(ctx);
    forth::add_shell_words(ctx);
    forth::evaluator(ctx).by_tokens = by_tokens;
    std::ostringstream out, err;
    ctx.out = &out;
    ctx.err = &err;
    forth::start_profile(ctx, "program");
    for (const std::string& line : lines) forth::try_evaluate(ctx, line, {"<input>"});
    Profiled made;
    std::ostringstream collapsed;
    forth::write_collapsed_stacks(ctx, collapsed);
    std::istringstream read(collapsed.str());
    for (std::string line; std::getline(read, line);) {
        const std::size_t blank = line.rfind(' ');
        EXPECT_TRUE(made.stacks.emplace(line.substr(0, blank), std::stoull(line.substr(blank + 1))).second) << line;
    }
    made.summary = forth::profile_summary(ctx);
    made.output = out.str() + err.str();
    return made;
}

const std::string fib = ":fib dup 2 < not { dup 1- fib swap 2 - fib + } iftrue ;";

}  // namespace

TEST(Profile, RecursionIsCountedOncePerCallAndNests) {
    for (const bool by_tokens : {false, true}) {
        const Profiled run = profiled({fib, "10 fib . cr"}, by_tokens);
        EXPECT_EQ(run.output, "55 \n");
        run.expect_calls({{"fib", 177}, {"program", 1}});
        // fib 10 is 10 calls deep, each inside the one before.
        EXPECT_TRUE(run.stacks.contains("program;fib;fib;fib;fib;fib;fib;fib;fib;fib;fib"));
        EXPECT_FALSE(run.stacks.contains("program;fib;fib;fib;fib;fib;fib;fib;fib;fib;fib;fib"));
        // A recursion's total counts its work once.
        EXPECT_EQ(run.row("fib").total, run.row("fib").self);
        EXPECT_EQ(run.row("program").total, run.summary.steps);
    }
}

TEST(Profile, SharesFollowTheWork) {
    // The same pass, three times as often in one word as in the other.
    const Profiled run = profiled({":pass 1 2 + 3 * drop ;", ":three [ pass ] 3000 times ;",
                                   ":one [ pass ] 1000 times ;", "three one"});
    EXPECT_EQ(run.row("pass").calls, 4000U);
    const double three = static_cast<double>(run.stacks.at("program;three;pass"));
    const double one = static_cast<double>(run.stacks.at("program;one;pass"));
    EXPECT_NEAR(three / (three + one), 0.75, 0.01);
    EXPECT_NEAR(run.share("three", true), 0.75, 0.03);
    EXPECT_NEAR(run.share("one", true), 0.25, 0.03);
}

TEST(Profile, CallsRunInPlaceOrFromLoopsHaveTheirStacks) {
    // Small words run in place in their callers, which times runs.
    const Profiled run = profiled({":inc 1+ ;", ":inc3 inc inc inc ;", ":main 0 [ inc3 ] 1000 times ;", "main . cr"});
    EXPECT_EQ(run.output, "3000 \n");
    run.expect_calls({{"inc", 3000}, {"inc3", 1000}});
    EXPECT_TRUE(run.stacks.contains("program;main;inc3;inc"));
    EXPECT_GT(run.share("inc"), run.share("main"));
}

TEST(Profile, CallsInPlaceAreCountedWhetherTheirBodiesBranchOrNot) {
    // magnitude runs a list of its own in place: it is followed as it runs;
    // twice runs straight through, with the calls in place inside it: it is
    // counted at once. Either way the steps of each word are its own.
    const Profiled run = profiled({":magnitude dup 0 < { negate } iftrue ;", ":add 1+ ;", ":twice add add ;",
                                   ":main 0 [ 3 negate magnitude drop twice ] 500 times ;", "main . cr"});
    EXPECT_EQ(run.output, "1000 \n");
    run.expect_calls({{"magnitude", 500}, {"twice", 500}, {"add", 1000}});
    EXPECT_TRUE(run.stacks.contains("program;main;magnitude"));
    EXPECT_TRUE(run.stacks.contains("program;main;twice;add"));
    EXPECT_NEAR(static_cast<double>(run.stacks.at("program;main;twice;add")) / run.row("add").calls, 1.0, 0.01);
    // Runs counted at once are kept when the code that counted them goes.
    const Profiled again = profiled({":add 1+ ;", ":twice add add ;", ":main 0 [ twice ] 100 times drop ;", "main",
                                     ":add 2 + ;", "main"});
    again.expect_calls({{"twice", 200}, {"add", 200}, {"add#2", 200}});
    // An error inside a body counted at once leaves no stack below none.
    const Profiled failed = profiled({":two drop drop ;", ":f 5 two ;", "[ f ] execute", "[ f ] execute"});
    for (const auto& [stack, steps] : failed.stacks) EXPECT_LT(steps, 1000U) << stack;
}

TEST(Profile, LastCallsAreShownInsideTheirCallers) {
    // A word's last call takes its frame over; a loop of last calls is one stack.
    const Profiled run = profiled({":helper 1 drop ;", ":main 2 drop helper ;", "main",
                                   ":down 1- dup { down } iftrue ;", "10000 down drop"});
    EXPECT_TRUE(run.stacks.contains("program;main;helper"));
    EXPECT_EQ(run.row("down").calls, 10000U);
    // Its first run, token by token, takes no frame over.
    EXPECT_TRUE(run.stacks.contains("program;down;down"));
    EXPECT_FALSE(run.stacks.contains("program;down;down;down"));
    // A conditional's list taking the frame over is no frame, until it is
    // named as a word: then it is a call of that word.
    const Profiled named = profiled({":f dup { 1- f } iftrue ;", "3 f drop", "3 f drop", "/w", "3 f drop"});
    named.expect_calls({{"f", 12}, {"w", 3}});
    EXPECT_TRUE(named.stacks.contains("program;f;w"));
}

TEST(Profile, ACallCountedAtOnceFollowsARecursion) {
    // g runs in place, from another stack at each depth.
    const Profiled run = profiled({":g 1+ ;", ":f dup { 1- f g } iftrue ;", "5 f . cr", "5 f . cr"});
    EXPECT_EQ(run.output, "5 \n5 \n");
    EXPECT_EQ(run.row("g").calls, 10U);
    // (The outermost call's first run goes token by token.)
    std::string stack = "program;f";
    for (int depth = 2; depth <= 5; ++depth) {
        stack += ";f";
        EXPECT_EQ(run.stacks.at(stack + ";g"), run.stacks.at("program;f;f;g")) << depth;
    }
}

TEST(Profile, RedefinitionsAreCountedUnderTheDefinitionThatRan) {
    // w is redefined while run calls it: the call after counts under the new one.
    const Profiled run = profiled({":w 1 drop ;", ":run w [ 1 drop 2 drop ] /w w ;", "run run"});
    run.expect_calls({{"w", 1}, {"w#2", 3}});
    EXPECT_TRUE(run.stacks.contains("program;run;w"));
    EXPECT_TRUE(run.stacks.contains("program;run;w#2"));
    // A word defined anew with the same body is the same definition.
    const Profiled again = profiled({"[ :v 1 drop ; v ] 100 times"});
    EXPECT_EQ(again.row("v").calls, 100U);
    EXPECT_EQ(again.summary.rows.size(), 2U);
}

TEST(Profile, AFailedRunKeepsWhatRanBeforeTheError) {
    const Profiled run = profiled({":g drop drop ;", ":f 5 g ;", "f 1 2 +", "f"});
    run.expect_calls({{"f", 2}, {"g", 2}});
    EXPECT_TRUE(run.stacks.contains("program;f;g"));
    // What ran after the errors went back to the top level.
    const Profiled after = profiled({":g drop drop ;", "g", ":h 1 drop ;", "h"});
    EXPECT_TRUE(after.stacks.contains("program;h"));
    EXPECT_FALSE(after.stacks.contains("program;g;h"));
}

TEST(Profile, DeepRecursionKeepsItsCallsButNotEveryStack) {
    const Profiled run = profiled({":deep dup { 1- deep 0 } iftrue drop ;", "5000 deep"});
    EXPECT_EQ(run.row("deep").calls, 5001U);
    EXPECT_LE(run.stacks.size(), 300U);
}

TEST(Profile, TheSummaryGroupsAndAligns) {
    forth::ProfileSummary summary{.steps = 1'250'000, .rows = {}};
    summary.rows.push_back({.name = "fib", .defined = "fib.tv:1", .calls = 242'785, .self = 1'000'000, .total = 1'000'000});
    summary.rows.push_back({.name = "go", .defined = "", .calls = 1, .self = 249'900, .total = 1'249'900});
    summary.rows.push_back({.name = "fib.tv", .defined = "", .calls = 1, .self = 100, .total = 1'250'000});
    std::ostringstream out;
    forth::write_profile_summary(out, summary, "p.folded", 2);
    EXPECT_EQ(out.str(),
              "Profile: 1,250,000 steps; stacks in p.folded\n"
              "    calls      steps   self   total  word\n"
              "  242,785  1,000,000  80.0%   80.0%  fib   fib.tv:1\n"
              "        1    249,900  20.0%  100.0%  go\n"
              "  (1 more word)\n");
}
