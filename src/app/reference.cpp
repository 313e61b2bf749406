#include "app/reference.hpp"

namespace forth {

namespace {

// The paragraph that starts at `from`: its lines, up to a blank line or a
// heading, joined by blanks.
std::string paragraph(std::string_view text, std::size_t from) {
    std::string joined;
    while (from < text.size()) {
        const std::size_t end = std::min(text.find('\n', from), text.size());
        const std::string_view line = text.substr(from, end - from);
        if (line.empty() || line.starts_with('#') || line.starts_with("```")) break;
        if (!joined.empty()) joined += ' ';
        joined += line;
        from = end + 1;
    }
    return joined;
}

}  // namespace

std::string describe(std::string_view name, bool sigil) {
    const std::string_view text = language_reference();
    // Words are under "#### `name`", sigils under "### `Xname`".
    std::string heading(sigil ? "\n### `" : "\n#### `");
    heading.append(name).append(sigil ? "name`" : "`");
    std::size_t at = text.find(heading);
    if (at == std::string_view::npos) return {};
    at = text.find('\n', at + 1);
    while (at != std::string_view::npos && at + 1 < text.size() && text[at + 1] == '\n') ++at;
    return at == std::string_view::npos ? std::string() : paragraph(text, at + 1);
}

std::string effect_of(const std::string& description) {
    if (!description.starts_with("`( ")) return {};
    const std::size_t end = description.find(")`");
    return end == std::string::npos ? std::string() : description.substr(1, end);
}

}  // namespace forth
