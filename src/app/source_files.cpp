#include "app/source_files.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "app/error_report.hpp"
#include "engine/embed.hpp"
#include "engine/slips.hpp"

namespace forth {

namespace {

// Every file in a chain of inclusions stays open until its last line has
// run; a file that includes itself must stop long before the process runs
// out of file descriptors. The chain is the native calls of one thread,
// so each thread counts its own.
constexpr int max_open_files = 256;
thread_local int open_files = 0;

class OpenFileCount {
public:
    OpenFileCount() {
        if (open_files == max_open_files) throw std::runtime_error("recursion too deep");
        ++open_files;
    }
    ~OpenFileCount() { --open_files; }
    OpenFileCount(const OpenFileCount&) = delete;
    OpenFileCount& operator=(const OpenFileCount&) = delete;
};

}  // namespace

bool include_file(const std::string& name, Context& ctx) {
    const OpenFileCount count;
    std::ifstream file(name);
    if (!file.is_open()) return false;
    // A directory opens; where reading it does not fail (a browser's
    // file system), it would pass for an empty file.
    std::error_code unknown;
    if (std::filesystem::is_directory(name, unknown)) throw std::runtime_error("can't read file");
    evaluate_lines(ctx, file, {name});
    // A directory, or a device that fails, opens but cannot be read; that
    // is no successful run of an empty file.
    if (file.bad()) throw std::runtime_error("can't read file");
    return true;
}

bool include_and_report(const std::string& name, Context& ctx) {
    bool complete = false;
    report_outcome(ctx, catch_errors(ctx, [&] { complete = include_file(name, ctx); }));
    return complete;
}

void included(Context& ctx) {
    const std::string name = ctx.text;  // the file's own lines may change the register
    errno = 0;
    if (!include_file(name, ctx)) throw UnopenedFile(name, errno != 0 ? std::strerror(errno) : "it cannot be read");
}

}  // namespace forth
