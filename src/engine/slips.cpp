#include "engine/slips.hpp"

#include <initializer_list>

#include "engine/meaning.hpp"

namespace forth {

namespace {

std::string joined(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts) text += part;
    return text;
}

}  // namespace

CollectedSlip collected_slip(Context& ctx, const std::string& token, std::string_view opener) {
    if (token == opener && (ctx.terminator == "]" || ctx.terminator == "}")) return CollectedSlip::nested_opener;
    if (ctx.terminator != ";") return CollectedSlip::none;
    const Meaning meaning = meaning_of(ctx, token, true);
    return meaning.kind == Meaning::Kind::sigil && (*meaning.token)[0] == ':' ? CollectedSlip::definition
                                                                              : CollectedSlip::none;
}

std::string nested_opener_slip(std::string_view opener, std::string_view closer, std::string_view at) {
    return joined({opener, " collected inside an open ", opener, at, "; the next ", closer, " ends the outer one"});
}

std::string definition_slip(std::string_view token, std::string_view definition, std::string_view at,
                            std::string_view opened_at) {
    return joined({token, at, " is collected into the definition ", definition, opened_at,
                   ", still open: is a ; missing before it?"});
}

std::string empty_name_slip(std::string_view at) {
    return joined({":", at, " followed by a blank defines the word with the empty name; "
                   "write the name right after the colon, as in :sq"});
}

std::string lone_closer_slip(std::string_view closer, std::string_view at) {
    return joined({closer, at, " closes nothing: no construct is open"});
}

}  // namespace forth
