#pragma once

#include <csignal>
#include <exception>

namespace forth {

// The one word the evaluator tests to learn that it must look at its state
// again: set by an interrupt request, by any change to the dictionary or
// the aliases, by an opening word and by plain mode. It is tested where
// work may go on without end, at every call and every pass of a loop, and
// after every instruction that may have set it; what it stands for is
// read from the state itself, so setting it when nothing changed is safe.
// Set asynchronously by a signal handler, hence volatile.
inline volatile std::sig_atomic_t trap = 0;

// Set with the trap to stop the code that is running.
inline volatile std::sig_atomic_t interrupt_requested = 0;

inline void set_trap() { trap = 1; }

// Asks the code that is running to stop at its next call or loop pass.
// Safe in a signal handler: the request is set before the trap, which the
// evaluator clears before it reads the request.
inline void request_interrupt() {
    interrupt_requested = 1;
    trap = 1;
}

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
