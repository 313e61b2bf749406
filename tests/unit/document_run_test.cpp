#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>

#include "lsp/run.hpp"

namespace {

// The processor's clock, a system call, is read, and the run asked whether
// a newer text waits, about once a millisecond, not at each of the run's
// calls and passes: reading it at each once took most of a run, and these
// Collatz walks, 540,000 calls and passes, were stopped at the budget. The
// walks end within it or not (a sanitizer's build is slower), but the
// question is asked no more than the run's milliseconds and lines.
TEST(DocumentRun, AsksWhetherCancelledNowAndThen) {
    std::size_t asked = 0;
    forth::lsp::Budget budget;
    budget.cancelled = [&asked] {
        ++asked;
        return false;
    };
    const std::string walks =
        ":step dup 2 mod =odd $odd { 3 * 1+ } iftrue $odd { 2 / } iffalse ;\n"
        ":walk 0 =count { dup 1 <> [ step 1 +count ] iftrue } while { dup 1 <> } repeat drop $count ;\n"
        "0 =longest [ $i 1+ walk $longest max =longest ] 2000 times\n";
    const auto nothing = [](const std::string&) -> std::optional<std::string> { return std::nullopt; };
    const forth::lsp::RunResult run = forth::lsp::run_document("file:///walks.tv", walks, nothing, budget);
    EXPECT_FALSE(run.error) << run.report;
    EXPECT_LT(asked, 10000u);
}

}  // namespace
