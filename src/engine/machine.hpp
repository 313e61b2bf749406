#pragma once

#include "core/context.hpp"
#include "engine/evaluator.hpp"

namespace forth {

// Runs the top frame's instructions, into the frames that calls push and
// back out of them, until a frame must be run token by token. The loop is
// built twice, from one source: once as it always runs, and once counting
// every step for a profile (engine/machine_profiled.cpp), so that a run
// that is not profiled pays nothing for it.
void run_plain_engine(Context& ctx);
void run_profiled_engine(Context& ctx);
inline void run_engine(Context& ctx) {
    if (evaluator(ctx).profiler) [[unlikely]] {
        run_profiled_engine(ctx);
    } else {
        run_plain_engine(ctx);
    }
}

}  // namespace forth
