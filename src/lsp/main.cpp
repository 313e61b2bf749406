#include <cstdlib>
#include <iostream>

#include "lsp/server.hpp"

// tolva-lsp: the language server, speaking on standard input and output.
// At exit the thread that reads standard input may be blocked there for
// good (a client need not close it), so the process ends without waiting
// for it, its output written.
int main() {
    const int status = forth::lsp::serve(std::cin, std::cout, {}, &std::cerr, false);
    std::cout.flush();
    std::_Exit(status);
}
