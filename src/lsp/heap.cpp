#include "lsp/heap.hpp"

#include <cstdlib>
#include <new>

// The sanitizers that bring their own allocator, and operator new with it.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer) || \
    __has_feature(hwaddress_sanitizer)
#define TOLVA_SANITIZER_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TOLVA_SANITIZER_ALLOCATOR 1
#endif

#if defined(TOLVA_SANITIZER_ALLOCATOR)
#include <sanitizer/allocator_interface.h>
#elif defined(__GLIBC__) || defined(__EMSCRIPTEN__)
#include <malloc.h>
#define TOLVA_COUNT_NEW 1
#endif

namespace forth::lsp::heap {

namespace {

// Plain values, so that they need no constructor: operator new may run
// before anything else is made.
thread_local bool counting = false;
#if defined(TOLVA_COUNT_NEW)
thread_local long long held_bytes = 0;
#endif

long long now_held() {
#if defined(TOLVA_SANITIZER_ALLOCATOR)
    return static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#elif defined(TOLVA_COUNT_NEW)
    return held_bytes;
#else
    return 0;
#endif
}

}  // namespace

Meter::Meter() : counting_before_(counting), start_(now_held()) { counting = true; }

Meter::~Meter() { counting = counting_before_; }

std::size_t Meter::held() const {
    const long long bytes = now_held() - start_;
    return bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
}

}  // namespace forth::lsp::heap

#if defined(TOLVA_COUNT_NEW)

// Every form of operator new and delete, replaced so that the thread that
// allocates can count what it holds. The memory comes from malloc as the
// library's own operators take it; a failed allocation calls the new handler
// and tries again, or throws std::bad_alloc, as they do.
namespace {

using forth::lsp::heap::counting;
using forth::lsp::heap::held_bytes;

void* allocate(std::size_t size, std::size_t alignment) {
    if (size == 0) size = 1;
    for (;;) {
        void* memory = nullptr;
        if (alignment <= alignof(std::max_align_t)) {
            memory = std::malloc(size);
        } else {
            // aligned_alloc wants a multiple of the alignment.
            const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
            memory = rounded >= size ? std::aligned_alloc(alignment, rounded) : nullptr;
        }
        if (memory != nullptr) {
            if (counting) held_bytes += static_cast<long long>(malloc_usable_size(memory));
            return memory;
        }
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void* allocate_nothrow(std::size_t size, std::size_t alignment) noexcept {
    try {
        return allocate(size, alignment);
    } catch (...) {
        return nullptr;
    }
}

void release(void* memory) noexcept {
    if (memory == nullptr) return;
    if (counting) held_bytes -= static_cast<long long>(malloc_usable_size(memory));
    std::free(memory);
}

constexpr std::size_t plain = alignof(std::max_align_t);

}  // namespace

void* operator new(std::size_t size) { return allocate(size, plain); }
void* operator new[](std::size_t size) { return allocate(size, plain); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate_nothrow(size, plain); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate_nothrow(size, plain); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate_nothrow(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate_nothrow(size, static_cast<std::size_t>(alignment));
}

void operator delete(void* memory) noexcept { release(memory); }
void operator delete[](void* memory) noexcept { release(memory); }
void operator delete(void* memory, std::size_t) noexcept { release(memory); }
void operator delete[](void* memory, std::size_t) noexcept { release(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { release(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { release(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { release(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { release(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { release(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { release(memory); }
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept { release(memory); }
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept { release(memory); }

#endif
