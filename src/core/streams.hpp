#pragma once

#include <exception>
#include <string>

#include "core/context.hpp"

// Standard output or standard error could not be written: a full disk, a
// closed pipe. Whatever runs stops at the first write found failed, and a
// front end says so and ends with a failure; nothing that succeeds is
// reported as a success once its output was lost.
namespace forth {

// None of the four reported error categories: a front end that catches it
// ends instead of going on. Its message names the stream and the system's
// reason: "can't write standard output: No space left on device".
class WriteFailed : public std::exception {
public:
    explicit WriteFailed(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// "can't write STREAM", and the reason the last failed call left.
std::string write_failure(const char* stream);

// Throws WriteFailed for `stream`.
[[noreturn, gnu::cold]] void write_failed(const char* stream);

// After writing on the Context's output (where the words print) or its
// error stream: throws when the write failed.
inline void check_output(const Context& ctx) {
    if (ctx.out->fail()) [[unlikely]]
        write_failed("standard output");
}
inline void check_errors(const Context& ctx) {
    if (ctx.err->fail()) [[unlikely]]
        write_failed("standard error");
}

}  // namespace forth
