#include <iostream>

#include "lsp/server.hpp"

// tolva-lsp: the language server, speaking on standard input and output.
int main() { return forth::lsp::serve(std::cin, std::cout); }
