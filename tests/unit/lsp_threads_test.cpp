#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "lsp/analysis.hpp"

// Documents read on several threads at once, as servers on threads of
// their own read them, are read as each is read alone. Under
// ThreadSanitizer (the tsan preset) any data race fails it too: looking a
// token up writes the caches of the tables every reading starts from.
namespace {

std::string document(int seed) {
    const std::string n = std::to_string(seed);
    return ":sq" + n + " dup * ;\n:cube" + n + " dup sq" + n + " * ;\n3 cube" + n + " . cr dpu\n" +
           "[ $i swap ] 3 times { 1 { 2 } iftrue } iftrue ]\n:w" + n + " 1 +\n:v 2 ;\n$never . cr\n";
}

std::string read(int seed) {
    const forth::lsp::Analysis analysis =
        forth::lsp::analyse("file:///t" + std::to_string(seed) + ".tv", document(seed),
                            [](const std::string&) { return std::nullopt; });
    std::string said;
    for (const forth::lsp::Diagnostic& diagnostic : analysis.diagnostics) said += diagnostic.message + '\n';
    for (const forth::lsp::Definition& definition : analysis.definitions) said += definition.name + '\n';
    // What hover, references and rename ask of each token.
    for (const forth::lsp::Token& token : analysis.tokens) {
        if (const auto reference = forth::lsp::reference_of(token)) said += reference->name + ' ';
        said += forth::lsp::is_plain_name(token.text) ? "plain\n" : "\n";
    }
    return said;
}

}  // namespace

TEST(LspThreads, DocumentsReadOnThreadsAreReadAsAlone) {
    constexpr int threads = 4, rounds = 20;
    std::vector<std::string> expected;
    for (int seed = 0; seed < threads; ++seed) expected.push_back(read(seed));
    std::vector<std::vector<std::string>> got(threads);
    {
        std::vector<std::jthread> running;
        for (int seed = 0; seed < threads; ++seed) {
            running.emplace_back([seed, &got] {
                for (int round = 0; round < rounds; ++round) got[static_cast<std::size_t>(seed)].push_back(read(seed));
            });
        }
    }
    for (int seed = 0; seed < threads; ++seed) {
        for (const std::string& reading : got[static_cast<std::size_t>(seed)]) {
            EXPECT_EQ(reading, expected[static_cast<std::size_t>(seed)]);
        }
    }
}
