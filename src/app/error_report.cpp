#include "app/error_report.hpp"

#include <cstdlib>
#include <ostream>

namespace forth {

bool locations_wanted() {
    const char* const where = std::getenv("TOLVA_WHERE");
    return where != nullptr && *where != '\0';
}

bool report_outcome(Context& ctx, const Outcome& outcome) {
    write_report(ctx, outcome, !outcome.ok && locations_wanted());
    return outcome.ok;
}

}  // namespace forth

namespace forth {

void warn_if_left_open(Context& ctx, std::string_view source) {
    const std::string_view closing = closing_word(ctx);
    if (closing.empty() || !locations_wanted()) return;
    const Place& opened = ctx.runtime.opened;
    std::ostream& err = *ctx.err;
    err << "Warning: " << source << " ends inside " << opened.token;
    if (!opened.source.empty()) err << ", opened at " << opened.source << ':' << opened.line;
    err << ", still waiting for " << closing << std::endl;
}

}  // namespace forth
