#include "core/streams.hpp"

#include <cerrno>
#include <cstring>

namespace forth {

std::string write_failure(const char* stream) {
    std::string message = "can't write ";
    message += stream;
    if (errno != 0) {
        message += ": ";
        message += std::strerror(errno);
    }
    return message;
}

void write_failed(const char* stream) { throw WriteFailed(write_failure(stream)); }

}  // namespace forth
