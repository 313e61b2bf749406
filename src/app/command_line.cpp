#include "app/command_line.hpp"

#include <ostream>

#include "app/error_report.hpp"
#include "app/interactive.hpp"
#include "app/profile_report.hpp"
#include "app/shell_words.hpp"
#include "app/source_files.hpp"
#include "app/texts.hpp"
#include "engine/embed.hpp"

namespace forth {

namespace {

void include_then_go_interactive(Context& ctx, const std::string& name) {
    const bool included = include_and_report(name, ctx);
    if (streams_lost(ctx)) return;
    if (included) {
        warn_if_left_open(ctx, name);
        *ctx.out << "Included " << name << std::endl;
    } else {
        report_unopened(ctx, name);
        *ctx.err << "Failed to include " << name << std::endl;
    }
    interactive_loop(ctx);
}

int run_action(Context& ctx, const std::vector<std::string>& args);

constexpr std::string_view exec_source = "<command line>";

// What a profile calls the top level: the program file, or the text's own name.
std::string profile_root(const std::vector<std::string>& args) {
    if (args.size() < 2) return "<input>";
    const std::string& option = args[1];
    if (option == "-e" || option == "--exec") return std::string(exec_source);
    if (option == "-t" || option == "--test") return "<self-test>";
    if ((option == "-i" || option == "--include") && args.size() > 2) return args[2];
    return option;
}

}  // namespace

int run_command_line(Context& ctx, const std::vector<std::string>& args) {
    return exit_status(ctx, run_action(ctx, args));
}

namespace {

int run_action(Context& ctx, const std::vector<std::string>& args) {
    choose_voice(args.size() < 2 || args[1] == "-i" || args[1] == "--include");
    if (places_wanted()) track_places(ctx);
    trace_if_wanted(ctx);
    profile_if_wanted(ctx, profile_root(args));
    if (args.size() < 2) {
        interactive_loop(ctx);
        return status_ok;
    }
    const std::string& option = args[1];
    std::ostream& out = *ctx.out;
    if (option == "-v" || option == "--version") {
        out << version_string << std::endl;
        return status_ok;
    }
    if (option == "-h" || option == "--help") {
        out << "Usage: " << args[0];
        for (const std::string_view line : usage_lines) out << line << '\n';
        out << std::flush;
        return status_ok;
    }
    if (option == "-t" || option == "--test") {
        run_self_test(ctx);
        return status_ok;
    }
    const bool exec = option == "-e" || option == "--exec";
    const bool include = option == "-i" || option == "--include";
    if ((exec || include) && args.size() < 3) {
        *ctx.err << "Missing argument to " << option << std::endl;
        return status_missing_argument;
    }
    if (exec) {
        if (!report_outcome(ctx, try_evaluate(ctx, args[2], {exec_source}))) return status_failed;
        warn_if_left_open(ctx, exec_source);
        return status_ok;
    }
    if (include) {
        include_then_go_interactive(ctx, args[2]);
        return status_ok;
    }
    if (!include_and_report(option, ctx)) {
        report_unopened(ctx, option);
        return status_failed;
    }
    warn_if_left_open(ctx, option);
    return status_ok;
}

}  // namespace

}  // namespace forth
