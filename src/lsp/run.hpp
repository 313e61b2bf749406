#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/context.hpp"
#include "lsp/analysis.hpp"

// Runs a document as a program file runs, confined: no output, no input, no
// file but regular ones read, and a budget of time, memory, stack and buffer.
namespace forth::lsp {

struct Budget {
    std::chrono::milliseconds time{100};  // of the processor's time, on the thread that runs
    std::size_t values = 1'000'000;       // on the stack, and tokens in the buffer
    // Of the heap, held by the run beyond what was held when it began, and
    // the stack's room: the dictionary, variables, aliases, strings, lists,
    // included files and all the evaluator keeps.
    std::size_t memory = std::size_t{64} << 20;
    // Asked as the run goes: true ends it at once, its outcome unknown (a
    // newer text of the document is waiting).
    std::function<bool()> cancelled = {};
};

struct RunResult {
    // The first error, as tolva reports it, and where: the token that
    // failed and the calls that led there, innermost first. None when the
    // run went through, or its outcome hung on the input it read.
    std::optional<ErrorLocation> error;
    std::string report;
    std::string explanation;  // what the report means, in plain words (engine/slips.hpp)
    // Stopped by its budget: what stopped it ("its budget of 100 ms of
    // processor time", ...).
    bool out_of_budget = false;
    std::string stopped_by;
    bool cancelled = false;
};

RunResult run_document(const std::string& uri, const std::string& text, const Loader& load, const Budget& budget);

}  // namespace forth::lsp
