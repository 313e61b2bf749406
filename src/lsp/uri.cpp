#include "lsp/uri.hpp"

#include <cctype>

namespace forth::lsp {

namespace {

constexpr std::string_view scheme = "file://";

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// RFC 3986's unreserved characters, ASCII whatever the locale.
bool unreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// The escapes of `text` undone; none when one is malformed or a NUL.
std::optional<std::string> unescape(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '%') {
            bytes += text[at];
            continue;
        }
        if (at + 2 >= text.size()) return std::nullopt;
        const int high = hex_value(text[at + 1]), low = hex_value(text[at + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
        at += 2;
    }
    return bytes;
}

bool starts_with_scheme(std::string_view uri) {
    if (uri.size() < scheme.size()) return false;
    for (std::size_t at = 0; at < scheme.size(); ++at) {
        if (std::tolower(static_cast<unsigned char>(uri[at])) != scheme[at]) return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> path_of_uri(std::string_view uri) {
    if (!starts_with_scheme(uri)) return std::nullopt;
    std::string_view rest = uri.substr(scheme.size());
    // The query and the fragment are no part of the path.
    rest = rest.substr(0, rest.find_first_of("?#"));
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && host != "localhost") return std::nullopt;
    return unescape(rest.substr(slash));
}

std::string escape_path(std::string_view path) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(path.size());
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (unreserved(byte) || c == '/') {
            escaped += c;
        } else {
            escaped += '%';
            escaped += digits[byte >> 4];
            escaped += digits[byte & 15];
        }
    }
    return escaped;
}

std::string uri_of_path(std::string_view path) { return std::string(scheme) + escape_path(path); }

std::string canonical_uri(std::string_view uri) {
    const std::optional<std::string> path = path_of_uri(uri);
    if (!path) return std::string(uri);
    return uri_of_path(*path);
}

}  // namespace forth::lsp
