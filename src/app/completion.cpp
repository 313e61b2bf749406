#include "app/completion.hpp"

#include <algorithm>

namespace forth {

namespace {

// What the evaluator's token extraction treats as white space.
constexpr std::string_view blanks = " \t\n\v\f\r";
constexpr std::string_view variable_sigils = "$=+-";
constexpr std::string_view word_sigils = "'?";

template <typename Table>
void add_names(const Table& table, std::string_view sigil, std::string_view start, std::vector<std::string>& names) {
    for (const auto& entry : table) {
        if (entry.first.starts_with(start)) names.push_back(std::string(sigil) + entry.first);
    }
}

}  // namespace

std::string_view last_token(std::string_view text) {
    const std::size_t blank = text.find_last_of(blanks);
    return blank == std::string_view::npos ? text : text.substr(blank + 1);
}

std::vector<std::string> completions(const Context& ctx, std::string_view token) {
    std::vector<std::string> names;
    add_names(ctx.words, "", token, names);
    add_names(ctx.aliases, "", token, names);
    if (!token.empty()) {
        const std::string_view sigil = token.substr(0, 1), rest = token.substr(1);
        if (variable_sigils.find(sigil) != std::string_view::npos) add_names(ctx.variables, sigil, rest, names);
        if (word_sigils.find(sigil) != std::string_view::npos) add_names(ctx.words, sigil, rest, names);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::string common_prefix(const std::vector<std::string>& names) {
    if (names.empty()) return {};
    std::string_view prefix = names.front();
    for (const std::string& name : names) {
        const auto differ = std::mismatch(prefix.begin(), prefix.end(), name.begin(), name.end());
        prefix = prefix.substr(0, static_cast<std::size_t>(differ.first - prefix.begin()));
    }
    // Names that differ inside a UTF-8 character share none of it.
    const std::string& first = names.front();
    while (prefix.size() < first.size() && (static_cast<unsigned char>(first[prefix.size()]) & 0xC0) == 0x80) {
        prefix.remove_suffix(1);
    }
    return std::string(prefix);
}

}  // namespace forth
