#include "app/error_report.hpp"

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace forth {

bool locations_wanted() {
    const char* const where = std::getenv("TOLVA_WHERE");
    return where != nullptr && *where != '\0';
}

bool report_outcome(Context& ctx, const Outcome& outcome) {
    write_report(ctx, outcome, !outcome.ok && locations_wanted());
    return outcome.ok;
}

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

namespace forth {

void trace_if_wanted(Context& ctx) {
    const char* const trace = std::getenv("TOLVA_TRACE");
    if (trace == nullptr || *trace == '\0') return;
    set_trace(ctx, [](Context& traced) {
        constexpr std::size_t shown = 8;  // values from the top
        const std::vector<Place> chain = running_places(traced);
        std::ostream& err = *traced.err;
        err << "trace: " << std::string(2 * (chain.size() - 1), ' ');
        const Place& at = chain.front();
        if (!at.source.empty()) err << at.source << ':' << at.line << ": ";
        err << at.token << "  [";
        const std::span<const double> stack = stack_values(traced);
        if (stack.size() > shown) err << " ...";
        for (const double value : stack.last(std::min(shown, stack.size()))) err << ' ' << value;
        err << " ]\n";
    });
}

}  // namespace forth
