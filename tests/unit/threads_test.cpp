#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/tables.hpp"
#include "engine/embed.hpp"

// Contexts on threads of their own share nothing: each thread's transcript
// is exactly what the same work writes alone. Built on its own under
// ThreadSanitizer too (the tsan preset), which also fails on any data race.
namespace {

// One interpreter and everything it wrote.
struct Session {
    Session() {
        forth::load_builtins(ctx);
        ctx.out = &out;
        ctx.err = &out;
    }
    void run(const std::string& text) {
        const forth::Outcome outcome = forth::try_evaluate(ctx, text, {"<thread>", 1});
        out << (outcome.ok ? "ok" : outcome.report) << " |";
        for (const double value : forth::stack_values(ctx)) out << ' ' << value;
        out << '\n';
    }

    std::ostringstream out;
    forth::Context ctx;
};

// Work that retires and sweeps lists: words defined and redefined, some
// while a loop runs (thousands, past the sweep's threshold), recursion,
// loops and errors. `seed` makes each thread's different.
std::vector<std::string> work(int seed) {
    const std::string n = std::to_string(seed);
    return {
        ":fib dup 2 < { dup 1- fib swap 2 - fib + } iffalse ; " + std::to_string(12 + seed) + " fib . cr",
        ":w " + n + " ; 0 [ :w $i ; w + ] 5000 times . cr",
        "[ :w " + n + " ; w drop ] 5000 times w . cr",
        ":down 1- dup { down } iftrue ; 20000 down drop",
        "0 =n { " + std::to_string(seed + 1) + " +n } while { $n 500 < } repeat $n . cr",
        "nosuch" + n,
        ":fib " + n + " ; 10 fib . cr drop drop",
        "[ $i . ] " + std::to_string(3 + seed) + " times cr",
    };
}

std::string alone(int seed) {
    Session session;
    for (const std::string& text : work(seed)) session.run(text);
    return session.out.str();
}

TEST(Threads, ContextsOnThreadsOfTheirOwnWriteWhatTheyWriteAlone) {
    constexpr int threads = 4;
    std::vector<std::string> expected;
    for (int seed = 0; seed < threads; ++seed) expected.push_back(alone(seed));
    std::vector<std::string> got(threads);
    {
        std::vector<std::jthread> running;
        for (int seed = 0; seed < threads; ++seed)
            running.emplace_back([seed, &got] { got[static_cast<std::size_t>(seed)] = alone(seed); });
    }
    for (int seed = 0; seed < threads; ++seed) EXPECT_EQ(got[static_cast<std::size_t>(seed)], expected[static_cast<std::size_t>(seed)]);
}

// A Context made on one thread may run on others, one at a time, as in a
// pool of threads, while other Contexts run beside it.
TEST(Threads, AContextMovesBetweenThreadsBetweenRuns) {
    const std::vector<std::string> texts = work(1);
    Session moved;
    std::string beside;
    {
        const std::jthread other([&beside] { beside = alone(2); });
        for (const std::string& text : texts) std::jthread([&moved, &text] { moved.run(text); });
    }
    EXPECT_EQ(moved.out.str(), alone(1));
    EXPECT_EQ(beside, alone(2));
}

// Another thread may ask a running Context to stop; everything before stays.
TEST(Threads, AnotherThreadInterrupts) {
    Session session;
    std::atomic<bool> started = false;
    forth::define_word(session.ctx, "started", [&started](forth::Context&) { started = true; });
    std::jthread runner([&session] { session.run("7 started [ 1 drop ] 2000000000 times"); });
    while (!started) std::this_thread::yield();
    forth::request_interrupt(session.ctx);
    runner.join();
    EXPECT_EQ(session.out.str(), "Interrupted | 7\n");
}

}  // namespace

// A Context destroyed by a word of its own, while it runs, is caught where
// assertions are on (the tsan build) before anything is freed from under
// its frames.
TEST(ContextDeathTest, DestroyedWhileItRunsAborts) {
#ifdef NDEBUG
    GTEST_SKIP() << "checked in debug builds only";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* ctx = new forth::Context;
            forth::load_builtins(*ctx);
            forth::define_word(*ctx, "destroy", [](forth::Context& self) { delete &self; });
            forth::evaluate(*ctx, ":f destroy ; f");
        },
        "destroyed while it runs");
#endif
}
