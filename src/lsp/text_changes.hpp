#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "lsp/analysis.hpp"

// A document's text changed as the client says (incremental sync): each
// change replaces a range, in lines and UTF-16 code units, or all of it.
namespace forth::lsp {

struct TextChange {
    std::optional<Range> range;  // none: the whole text
    std::string_view text;
};

// A document may hold this much, as one message may.
constexpr std::size_t most_text = std::size_t{64} << 20;

// Applies `changes` to `text` in order, each to what the one before left,
// as the protocol counts: lines end at "\n", "\r\n" or "\r"; a line past
// the last is the end of the text, a character past the end of its line is
// that end, and one inside a character (between the halves of a surrogate
// pair) is where the character begins. Where the changes follow one
// another down or up the text, the time is linear in its size and theirs.
// Throws std::length_error, leaving `text` as it was, when the text would
// hold more than most_text, or when the changes jump about it so much that
// they would take time in the square of its size.
void apply_changes(std::string& text, std::span<const TextChange> changes);

}  // namespace forth::lsp
