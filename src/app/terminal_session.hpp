#pragma once

#include <memory>
#include <string>

#include "core/context.hpp"

namespace forth {

// The interactive loop on a terminal: lines are read through a line editor
// with history and completion, and Ctrl-C stops the running code instead of
// the process.
class TerminalSession {
public:
    enum class Read {
        line,       // a line of code was entered
        cancelled,  // Ctrl-C discarded the line being typed
        ended,      // input ended (Ctrl-D on an empty line)
    };

    TerminalSession() = default;
    virtual ~TerminalSession() = default;
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    // Reads the next line of code after `prompt` and keeps it in the history.
    virtual Read read_code(const std::string& prompt, std::string& line) = 0;
};

// A session when standard input and standard output are both terminals and
// the program was built with a line editor; null otherwise. While it lives,
// SIGINT requests an interrupt of `ctx`, and accept reads through the
// editor too.
std::unique_ptr<TerminalSession> open_terminal_session(Context& ctx);

}  // namespace forth
