#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "core/context.hpp"

// Slips a reader can name as it reads, and errors explained, worded once:
// the command line's warnings and explanations, the playground's console
// and the language server's diagnostics say the same. `at` is where the token was read, as " at prog.tv:3", and
// `opened_at` where its construct opened, as " opened at prog.tv:1"; each
// empty where the place is shown otherwise.
namespace forth {

// What collecting `token` into the open construct, opened by `opener`,
// slips on: the opening word of a list inside an open list of its kind,
// which opens nothing, since the first closing word ends the outer list; or
// a `:name` inside an open definition, most often a missing `;`.
enum class CollectedSlip { none, nested_opener, definition };
CollectedSlip collected_slip(Context& ctx, const std::string& token, std::string_view opener);
// The same, for a construct that `terminator` will close.
CollectedSlip collected_slip(Context& ctx, const std::string& token, std::string_view opener,
                             std::string_view terminator);

// The closing word that `token` opens a construct to wait for, when its
// meaning now is an opening word (or the opening sigil); empty otherwise.
std::string_view closer_opened_by(Context& ctx, const std::string& token);

// A `[` inside an open `[` (or `{` inside `{`) opens nothing.
std::string nested_opener_slip(std::string_view opener, std::string_view closer, std::string_view at);

// A `:name` collected into an open definition: most often a missing `;`.
std::string definition_slip(std::string_view token, std::string_view definition, std::string_view at,
                            std::string_view opened_at);

// A `:` followed by a blank defines the word with the empty name.
std::string empty_name_slip(std::string_view at);

// A closing word run with nothing open.
std::string lone_closer_slip(std::string_view closer, std::string_view at);

// A file that cannot be opened to be included. Its report stays "can't open
// file"; its explanation names the file and the reason.
struct UnopenedFile : std::runtime_error {
    UnopenedFile(std::string file, std::string why)
        : std::runtime_error("can't open file"), name(std::move(file)), reason(std::move(why)) {}
    std::string name;
    std::string reason;
};

// How many edits make `name`, unknown, into `known` (a character put in,
// taken out or changed, or two neighbours swapped: dpu for dup), when it is
// near enough to be what was meant: 1 edit for a name of up to three
// characters, 2 for a longer one, and fewer than the name has. None else.
std::optional<std::size_t> edits_if_near(std::string_view name, std::string_view known);

// What `error`, raised at `token` (empty when unknown), means in plain
// words, with what to do about it, for a newcomer: which variable was never
// stored, the words nearest an unknown one, what an underflowing word takes
// and what the stack held. Empty when there is nothing to add to the report.
// Read while the Context is as the error left it.
std::string explain_failure(Context& ctx, const std::exception& error, std::string_view token);

}  // namespace forth
