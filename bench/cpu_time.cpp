// cpu_time [--input FILE] LOG COMMAND [ARG...]
//
// Runs COMMAND with standard input from FILE (or /dev/null) and appends one
// line to LOG: the CPU time it used (user + system, in seconds) and its
// maximum resident set size (in KiB), both from the kernel's accounting of
// the waited-for child. Exits with the command's status (128 + the signal
// number if a signal ended it), so a failing run still fails.
//
// bench/run times every run it makes through this: CPU time rather than
// wall time, since the machine may be busy with other work, and in
// microseconds, fine enough for the few milliseconds that a start-up takes.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
    const char* input = "/dev/null";
    if (argc >= 3 && std::strcmp(argv[1], "--input") == 0) {
        input = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: cpu_time [--input FILE] LOG COMMAND [ARG...]\n");
        return 125;
    }
    const char* log = argv[1];

    const pid_t child = fork();
    if (child < 0) {
        std::perror("cpu_time: fork");
        return 125;
    }
    if (child == 0) {
        const int in = open(input, O_RDONLY);
        if (in < 0 || dup2(in, STDIN_FILENO) < 0) {
            std::perror(input);
            _exit(125);
        }
        close(in);
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "cpu_time: %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }

    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("cpu_time: wait4");
            return 125;
        }
    }

    std::FILE* out = std::fopen(log, "a");
    if (out == nullptr) {
        std::fprintf(stderr, "cpu_time: %s: %s\n", log, std::strerror(errno));
        return 125;
    }
    std::fprintf(out, "%.6f %ld\n", seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss);
    if (std::fclose(out) != 0) {
        std::fprintf(stderr, "cpu_time: %s: %s\n", log, std::strerror(errno));
        return 125;
    }

    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
