#pragma once

#include <optional>
#include <string>
#include <string_view>

// file:// URIs and the paths they name, as RFC 3986 spells them: a path's
// bytes other than letters, digits, "-", ".", "_", "~" and "/" are written
// as %XX, and a URI's escapes are undone, UTF-8 and all.
namespace forth::lsp {

// The local path of a file:// URI (with no host, or "localhost"), its
// escapes decoded and its query and fragment dropped; none for any other
// URI, a malformed escape or an escaped NUL.
std::optional<std::string> path_of_uri(std::string_view uri);

// A path's bytes, escaped for a URI's path: "my dir/ü" gives "my%20dir/%C3%BC".
std::string escape_path(std::string_view path);

// The file:// URI of an absolute path.
std::string uri_of_path(std::string_view path);

// A URI spelt one way for every spelling of it: its escapes decoded and
// made again as escape_path makes them ("%7e", "~" and "%7E" are one), so
// that URIs from the client and made here compare equal. A URI that is no
// file:// URI, or not well formed, stays as it is.
std::string canonical_uri(std::string_view uri);

}  // namespace forth::lsp
