#include "engine/stack_guard.hpp"

#include <pthread.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace forth {

namespace {

// Room left below the guard for the deepest call chain that does not come
// back through resolve: stream output, file opening, exception unwinding,
// and the larger frames of sanitizer builds.
constexpr std::uintptr_t headroom = 256 * 1024;

std::uintptr_t lowest_usable_address() {
    // Zeroed: emscripten's pthread_getattr_np succeeds without filling it in,
    // and then no stack is known.
    pthread_attr_t attributes{};
    void* lowest = nullptr;
    std::size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getstack(&attributes, &lowest, &size);
        pthread_attr_destroy(&attributes);
    }
    // Without a known stack there is nothing to measure against; never trip.
    if (lowest == nullptr) return 1;
    // A stack smaller than twice the headroom still keeps half of itself.
    return reinterpret_cast<std::uintptr_t>(lowest) + std::min<std::uintptr_t>(headroom, size / 2);
}

thread_local std::uintptr_t stack_floor = 0;

}  // namespace

void check_stack_depth() {
    if (stack_floor == 0) stack_floor = lowest_usable_address();
    if (reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) < stack_floor)
        throw std::runtime_error("recursion too deep");
}

}  // namespace forth
