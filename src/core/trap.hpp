#pragma once

#include <atomic>
#include <exception>

#include "core/context.hpp"

// The trap word (Runtime::trap) and interrupt requests, one Context's each.
// Requests come from signal handlers and from other threads; everything
// else is the Context's own thread's.
namespace forth {

// Whether the trap is set: the loop's test, at every call and pass.
inline bool trapped(const Runtime& runtime) { return runtime.trap.load(std::memory_order_relaxed) != 0; }

inline void set_trap(Runtime& runtime) { runtime.trap.store(1, std::memory_order_relaxed); }

// Clears the trap, then sets it again when `keep` or a request is pending.
// A request is set before its trap, and the trap cleared here before the
// request is read (in one order for every thread), so none is lost: either
// it is read here, or its trap is set after the clear.
inline void reset_trap(Runtime& runtime, bool keep) {
    if (keep) {
        set_trap(runtime);
        return;
    }
    runtime.trap.store(0, std::memory_order_seq_cst);
    if (runtime.interrupt_requested.load(std::memory_order_seq_cst) != 0) set_trap(runtime);
}

// Asks the code running in `runtime`'s Context to stop at its next call,
// loop pass, or end of a list run while a construct collects. Safe in a
// signal handler, and from another thread: the request is set before the
// trap, which the evaluator clears before it reads the request.
inline void request_interrupt(Runtime& runtime) {
    runtime.interrupt_requested.store(1, std::memory_order_seq_cst);
    runtime.trap.store(1, std::memory_order_seq_cst);
}

inline bool interrupt_pending(const Runtime& runtime) {
    return runtime.interrupt_requested.load(std::memory_order_relaxed) != 0;
}

// Forgets a pending request.
inline void drop_interrupt(Runtime& runtime) { runtime.interrupt_requested.store(0, std::memory_order_relaxed); }

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
    drop_interrupt(runtime);
    throw Interrupted();
}

// Takes a pending request; does nothing otherwise.
inline void poll_interrupt(Runtime& runtime) {
    if (interrupt_pending(runtime)) take_interrupt(runtime);
}

}  // namespace forth
