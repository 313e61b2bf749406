// libFuzzer target: source text, then after the first NUL byte standard
// input, run in the sandbox; fuzz/README.md tells how.

#include <sys/resource.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "app/sandbox.hpp"
#include "app/shell_words.hpp"
#include "engine/evaluate.hpp"
#include "engine/evaluator.hpp"

namespace {

forth::sandbox::NullBuffer null_buffer;

// 20,000 calls and passes, and 100,000 tokens compiled, keep the slowest
// inputs under a second with the sanitizers on: a list recompiled at every
// pass costs far more than its tokens.
constexpr std::size_t budget_per_input = 20'000;
constexpr std::size_t compiled_per_unit = 5;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Native code that re-enters the evaluator still nests on the machine's
    // stack, up to its guard; 1 MiB reaches that guard sooner.
    rlimit stack{};
    getrlimit(RLIMIT_STACK, &stack);
    stack.rlim_cur = std::min<rlim_t>(stack.rlim_cur, rlim_t{1} << 20);
    setrlimit(RLIMIT_STACK, &stack);

    std::cout.rdbuf(&null_buffer);
    std::cerr.rdbuf(&null_buffer);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = std::min(input.find('\0'), input.size());
    std::stringbuf standard_input(std::string(input.substr(std::min(split + 1, input.size()))));
    std::cin.rdbuf(&standard_input);
    std::cin.clear();

    forth::Context ctx;
    forth::load_builtins(ctx);
    forth::add_shell_words(ctx);
    // Half the inputs compile every list at its first run, the rest at
    // its second, as the interpreter does.
    forth::evaluator(ctx).eager = size % 2 == 1;
    forth::sandbox::confine(ctx, budget_per_input, compiled_per_unit);
    forth::sandbox::run_lines(ctx, input.substr(0, split));

    std::cin.rdbuf(nullptr);
    return 0;
}
