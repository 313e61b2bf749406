#include "app/profile_report.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <vector>

#include "app/error_report.hpp"

namespace forth {

namespace {

struct ProfileFile {
    std::string name;
    bool failed = false;
    bool finished = false;
};
ProfileFile wanted;

std::string grouped(std::uint64_t number) {
    std::string digits = std::to_string(number);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<std::size_t>(at), 1, ',');
    return digits;
}

std::string share(std::uint64_t part, std::uint64_t whole) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << (whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole)) << '%';
    return text.str();
}

void say_unwritten(Context& ctx) {
    *ctx.err << "Error: can't write profile " << wanted.name << ": " << std::strerror(errno) << std::endl;
    wanted.failed = true;
}

}  // namespace

void profile_if_wanted(Context& ctx, std::string root) {
    const char* const name = std::getenv("TOLVA_PROFILE");
    if (name == nullptr || *name == '\0') return;
    wanted.name = name;
    errno = 0;
    if (!std::ofstream(wanted.name, std::ios::out | std::ios::trunc)) {
        say_unwritten(ctx);
        return;
    }
    start_profile(ctx, std::move(root));
}

int finish_profile(Context& ctx, int status) {
    if (wanted.finished || wanted.name.empty()) return status;
    wanted.finished = true;
    if (!wanted.failed) {
        // Emptied at the start, added to now: a file that is also standard
        // output (/dev/stdout) gets the profile after what the program wrote.
        errno = 0;
        std::ofstream file(wanted.name, std::ios::out | std::ios::app);
        write_collapsed_stacks(ctx, file);
        file.close();
        if (file.fail()) {
            say_unwritten(ctx);
        } else {
            write_profile_summary(*ctx.err, profile_summary(ctx), wanted.name);
        }
    }
    return wanted.failed && status == status_ok ? status_failed : status;
}

void write_profile_summary(std::ostream& out, const ProfileSummary& summary, std::string_view file, std::size_t most) {
    struct Line {
        std::string calls, self, self_share, total_share, name, defined;
    };
    std::vector<Line> lines{{"calls", "steps", "self", "total", "word", ""}};
    const std::size_t shown = std::min(most, summary.rows.size());
    for (std::size_t index = 0; index < shown; ++index) {
        const ProfileRow& row = summary.rows[index];
        lines.push_back({grouped(row.calls), grouped(row.self), share(row.self, summary.steps),
                         share(row.total, summary.steps), row.name, row.defined});
    }
    std::size_t widths[4] = {};
    for (const Line& line : lines) {
        widths[0] = std::max(widths[0], line.calls.size());
        widths[1] = std::max(widths[1], line.self.size());
        widths[2] = std::max(widths[2], line.self_share.size());
        widths[3] = std::max(widths[3], line.total_share.size());
    }
    std::size_t name_width = 0;
    for (const Line& line : lines) name_width = std::max(name_width, line.name.size());
    // Written whole, then at once: standard error writes every piece it is given.
    std::ostringstream text;
    text << "Profile: " << grouped(summary.steps) << " steps; stacks in " << file << '\n';
    for (const Line& line : lines) {
        text << std::right << std::setw(static_cast<int>(widths[0]) + 2) << line.calls << std::setw(static_cast<int>(widths[1]) + 2)
             << line.self << std::setw(static_cast<int>(widths[2]) + 2) << line.self_share
             << std::setw(static_cast<int>(widths[3]) + 2) << line.total_share << "  ";
        if (line.defined.empty()) {
            text << line.name << '\n';
        } else {
            text << std::left << std::setw(static_cast<int>(name_width)) << line.name << "  " << line.defined << '\n';
        }
    }
    if (const std::size_t left = summary.rows.size() - shown; left > 0)
        text << "  (" << left << (left == 1 ? " more word)\n" : " more words)\n");
    out << text.str() << std::flush;
}

}  // namespace forth
