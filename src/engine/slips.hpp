#pragma once

#include <string>
#include <string_view>

#include "core/context.hpp"

// Slips a reader can name as it reads, worded once: the command line's
// warnings (under TOLVA_WHERE) and the language server's diagnostics say
// the same. `at` is where the token was read, as " at prog.tv:3", and
// `opened_at` where its construct opened, as " opened at prog.tv:1"; each
// empty where the place is shown otherwise.
namespace forth {

// What collecting `token` into the open construct, opened by `opener`,
// slips on: the opening word of a list inside an open list of its kind,
// which opens nothing, since the first closing word ends the outer list; or
// a `:name` inside an open definition, most often a missing `;`.
enum class CollectedSlip { none, nested_opener, definition };
CollectedSlip collected_slip(Context& ctx, const std::string& token, std::string_view opener);

// A `[` inside an open `[` (or `{` inside `{`) opens nothing.
std::string nested_opener_slip(std::string_view opener, std::string_view closer, std::string_view at);

// A `:name` collected into an open definition: most often a missing `;`.
std::string definition_slip(std::string_view token, std::string_view definition, std::string_view at,
                            std::string_view opened_at);

// A `:` followed by a blank defines the word with the empty name.
std::string empty_name_slip(std::string_view at);

// A closing word run with nothing open.
std::string lone_closer_slip(std::string_view closer, std::string_view at);

}  // namespace forth
