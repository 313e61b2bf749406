#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/context.hpp"
#include "lsp/analysis.hpp"

// Runs a document as a program file runs, confined: no output, no input, no
// file but regular ones read, and a budget of time, stack and buffer.
namespace forth::lsp {

struct Budget {
    std::chrono::milliseconds time{100};  // of processor time
    std::size_t values = 1'000'000;  // on the stack, and tokens in the buffer
};

struct RunResult {
    // The first error, as tolva reports it, and where: the token that
    // failed and the calls that led there, innermost first. None when the
    // run went through, or its outcome hung on the input it read.
    std::optional<ErrorLocation> error;
    std::string report;
    bool out_of_budget = false;
};

RunResult run_document(const std::string& uri, const std::string& text, const Loader& load, const Budget& budget);

}  // namespace forth::lsp
