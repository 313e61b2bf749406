// The evaluator's loop again, counting each step for a profile.
#define TOLVA_PROFILED 1
#include "machine.cpp"
