#pragma once

#include <cstddef>

// What one thread holds on the heap, for the budget of a document's run:
// the bytes it allocated with operator new, less those it freed, while a
// Meter lives on it. Under a sanitizer that brings its own allocator and
// operator new (AddressSanitizer, ThreadSanitizer), the whole process's
// count stands in for the thread's.
namespace forth::lsp::heap {

class Meter {
public:
    Meter();
    ~Meter();
    Meter(const Meter&) = delete;
    Meter& operator=(const Meter&) = delete;

    // The bytes allocated and not freed on this thread since the Meter
    // began; 0 where nothing is counted.
    std::size_t held() const;

private:
    bool counting_before_;
    long long start_;
};

}  // namespace forth::lsp::heap
