#include <string>
#include <vector>

#include "app/command_line.hpp"
#include "app/shell_words.hpp"
#include "engine/evaluate.hpp"

int main(int argc, char* argv[]) {
    forth::Context ctx;
    forth::load_builtins(ctx);
    forth::add_shell_words(ctx);
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
    return forth::run_command_line(ctx, args);
}
