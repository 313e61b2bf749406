// libFuzzer target: the bytes a client sends the language server, framing
// and all; whatever they are, it answers and goes on, or ends cleanly.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "lsp/server.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream out;
    // A short run per document keeps an input of many changes quick; what
    // the server ignores is logged nowhere.
    forth::lsp::Budget budget;
    budget.time = std::chrono::milliseconds(5);
    budget.values = 100'000;
    forth::lsp::serve(in, out, budget, nullptr);
    return 0;
}
