// A fault that makes the stack or a list grow without end fails its test
// with an allocation error within a second, instead of taking the machine's
// memory. Sanitizer builds reserve far more address space than they use, so
// there the cap is AddressSanitizer's own limit on resident memory.
#include <sys/resource.h>

namespace {

#ifdef TOLVA_MEMORY_CAP_MIB
const bool capped = [] {
    const rlim_t bytes = rlim_t{TOLVA_MEMORY_CAP_MIB} << 20;
    const rlimit limit{bytes, bytes};
    return setrlimit(RLIMIT_AS, &limit) == 0;
}();
#endif

}  // namespace
