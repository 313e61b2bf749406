#pragma once

#include <csignal>
#include <exception>

namespace forth {

// Set asynchronously, by a signal handler, to stop the code that is running.
// The evaluator polls it wherever work can go on without end: at every call
// of a token list and every pass of a loop.
inline volatile std::sig_atomic_t interrupt_requested = 0;

// What the evaluator throws when it finds an interrupt requested. It is none
// of the four reported error categories: only the interactive loop, which
// installs the signal handler, expects it.
class Interrupted : public std::exception {
public:
    const char* what() const noexcept override { return "interrupted"; }
};

// What a request does instead of throwing Interrupted, when set: a harness
// that bounds the work of a test input polls the evaluator this way.
inline void (*interrupt_handler)() = nullptr;

// Clears the pending request and throws Interrupted (or calls the handler).
// Out of line, so that the places that poll keep no registers for it.
[[gnu::cold, gnu::noinline]] inline void take_interrupt() {
    interrupt_requested = 0;
    if (interrupt_handler != nullptr) {
        interrupt_handler();
    } else {
        throw Interrupted();
    }
}

// Takes a pending request; does nothing otherwise.
inline void poll_interrupt() {
    if (interrupt_requested != 0) take_interrupt();
}

}  // namespace forth
