#include "app/terminal_session.hpp"

namespace forth {

// Built without a line editor: terminals get the plain loop as well.
std::unique_ptr<TerminalSession> open_terminal_session(Context&) { return nullptr; }

}  // namespace forth
