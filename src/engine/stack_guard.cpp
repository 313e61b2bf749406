#include "engine/stack_guard.hpp"

#include <pthread.h>

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

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

#ifdef __EMSCRIPTEN__
// In a browser the module's calls nest on the engine's own stack as well,
// which is far smaller than the one in the module's memory (a worker's
// holds about 150 runs of the evaluator inside one another) and cannot be
// measured. Near its end a recursion of a fifth of a worker's plain
// JavaScript calls fails: what is left is room for the error's way out.
EM_JS(int, engine_stack_low, (), {
    const probe = (n) => (n === 0 ? 0 : 1 + probe(n - 1));
    try {
        probe(1500);
        return 0;
    } catch (error) {
        return 1;
    }
});
#endif

}  // namespace

void check_stack_depth() {
    if (stack_floor == 0) stack_floor = lowest_usable_address();
    if (reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) < stack_floor)
        throw std::runtime_error("recursion too deep");
#ifdef __EMSCRIPTEN__
    if (engine_stack_low() != 0) throw std::runtime_error("recursion too deep");
#endif
}

}  // namespace forth
