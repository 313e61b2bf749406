#include "app/error_report.hpp"

#include <cstdlib>

namespace forth {

namespace {

bool locations_wanted() {
    const char* const where = std::getenv("TOLVA_WHERE");
    return where != nullptr && *where != '\0';
}

}  // namespace

bool report_outcome(Context& ctx, const Outcome& outcome) {
    write_report(ctx, outcome, !outcome.ok && locations_wanted());
    return outcome.ok;
}

}  // namespace forth
