#include "app/error_report.hpp"

#include <iostream>

namespace forth {

void report_error(const char* prefix, const std::exception& error) {
    std::cerr << prefix << error.what() << '\n' << std::flush;
}

void report_interrupt() { std::cerr << "Interrupted\n" << std::flush; }

}  // namespace forth
