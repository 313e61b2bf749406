#pragma once

#include <exception>

#include "core/context.hpp"

// The trap word (Runtime::trap) and interrupt requests, one Context's each.
namespace forth {

inline void set_trap(Runtime& runtime) { runtime.trap = 1; }

// Asks the code running in `runtime`'s Context to stop at its next call,
// loop pass, or end of a list run while a construct collects. Safe in a
// signal handler: the request is set before the trap, which the evaluator
// clears before it reads the request.
inline void request_interrupt(Runtime& runtime) {
    runtime.interrupt_requested = 1;
    runtime.trap = 1;
}

// What the evaluator throws when it finds an interrupt requested. It is none
// of the four reported error categories: front ends report it as
// "Interrupted".
class Interrupted : public std::exception {
public:
    const char* what() const noexcept override { return "interrupted"; }
};

// Clears the pending request and throws Interrupted. Out of line, so that
// the places that poll keep no registers for it.
[[noreturn, gnu::cold, gnu::noinline]] inline void take_interrupt(Runtime& runtime) {
    runtime.interrupt_requested = 0;
    throw Interrupted();
}

// Takes a pending request; does nothing otherwise.
inline void poll_interrupt(Runtime& runtime) {
    if (runtime.interrupt_requested != 0) take_interrupt(runtime);
}

}  // namespace forth
