#include "engine/slips.hpp"

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "engine/meaning.hpp"
#include "words/vocabulary.hpp"

namespace forth {

namespace {

std::string joined(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts) text += part;
    return text;
}

// The names defined now nearest `name`, at most three, nearest first.
std::vector<std::string> nearest_names(const Context& ctx, std::string_view name) {
    std::vector<std::pair<std::size_t, std::string>> near;
    const auto consider = [&](const std::string& known) {
        if (const auto edits = edits_if_near(name, known)) near.emplace_back(*edits, known);
    };
    for (const auto& entry : ctx.words) consider(entry.first);
    for (const auto& entry : ctx.aliases) consider(entry.first);
    std::sort(near.begin(), near.end());
    std::vector<std::string> names;
    for (std::size_t i = 0; i < near.size() && i < 3; ++i) names.push_back(near[i].second);
    return names;
}

std::string unknown_word_explained(const Context& ctx, std::string_view name) {
    const std::vector<std::string> near = nearest_names(ctx, name);
    std::string text(name);
    if (near.empty()) {
        text += " is no word defined here; words lists those that are";
        if (ctx.words.contains("")) text += " (a : followed by a blank defined the word with the empty name)";
    } else {
        text += " is no word defined here: did you mean ";
        for (std::size_t i = 0; i < near.size(); ++i) {
            if (i != 0) text += i + 1 == near.size() ? " or " : ", ";
            text += near[i];
        }
        text += '?';
    }
    return text;
}

// The row of the built-in word or sigil `token` stands for now, if any.
const Builtin* row_meant(Context& ctx, const std::string& token) {
    const Meaning meaning = meaning_of(ctx, token, true);
    if (meaning.kind == Meaning::Kind::word) return row_of(*meaning.word);
    if (meaning.kind == Meaning::Kind::sigil) return row_of(*meaning.handler);
    return nullptr;
}

std::string values(std::size_t count) { return std::to_string(count) + (count == 1 ? " value" : " values"); }

// A shuffle checks the depth before it takes anything; every other word
// takes its values one by one, so what it found is gone when it fails.
std::string underflow_explained(Context& ctx, std::string_view token) {
    const std::string name(token);
    const Builtin* const row = name.empty() ? nullptr : row_meant(ctx, name);
    if (row == nullptr || row->in == 0) {
        return (name.empty() ? std::string("a word") : name) + " took more values than the stack held";
    }
    std::string text = joined({name, " takes ", values(row->in), " from the stack, which "});
    if (row->kind == Kind::shuffle) return text + "held " + std::to_string(ctx.stack.size());
    if (row->in == 1) return text + "was empty";
    return text + "held fewer: it took what there was";
}

std::string unstored_explained(Context& ctx, std::string_view token) {
    const std::string name(token);
    const Meaning meaning = name.empty() ? Meaning{} : meaning_of(ctx, name, true);
    const Builtin* const row = meaning.kind == Meaning::Kind::sigil ? row_of(*meaning.handler) : nullptr;
    if (row == nullptr || row->kind != Kind::fetch_sigil) {
        return "a variable was fetched before any value was stored in it: store one first, as in 0 =name";
    }
    const std::string_view variable = std::string_view(*meaning.token).substr(1);
    return joined({"the variable ", variable, " was fetched before any value was stored in it: store one first, as in 0 =",
                   variable});
}

}  // namespace

std::optional<std::size_t> edits_if_near(std::string_view name, std::string_view known) {
    const std::size_t most = std::min<std::size_t>(name.size() <= 3 ? 1 : 2, name.size() - 1);
    if (known.empty() || name == known || name.empty() ||
        (name.size() > known.size() ? name.size() - known.size() : known.size() - name.size()) > most) {
        return std::nullopt;
    }
    // Three rows of the table of edits between the names' beginnings.
    std::vector<std::size_t> before(known.size() + 1), row(known.size() + 1), next(known.size() + 1);
    for (std::size_t j = 0; j <= known.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= name.size(); ++i) {
        next[0] = i;
        for (std::size_t j = 1; j <= known.size(); ++j) {
            next[j] = std::min({row[j] + 1, next[j - 1] + 1, row[j - 1] + (name[i - 1] != known[j - 1] ? 1 : 0)});
            if (i > 1 && j > 1 && name[i - 1] == known[j - 2] && name[i - 2] == known[j - 1]) {
                next[j] = std::min(next[j], before[j - 2] + 1);
            }
        }
        std::swap(before, row);
        std::swap(row, next);
    }
    return row.back() <= most ? std::optional<std::size_t>(row.back()) : std::nullopt;
}

std::string explain_failure(Context& ctx, const std::exception& error, std::string_view token) {
    if (const auto* file = dynamic_cast<const UnopenedFile*>(&error)) {
        return joined({"the file ", file->name, " cannot be opened: ", file->reason});
    }
    const std::string_view what = error.what();
    if (dynamic_cast<const std::domain_error*>(&error) != nullptr) {
        constexpr std::string_view unknown = "unknown word - ";
        if (what.starts_with(unknown)) return unknown_word_explained(ctx, what.substr(unknown.size()));
        return {};
    }
    if (dynamic_cast<const std::out_of_range*>(&error) == nullptr) return {};
    if (what == "_Map_base::at") return unstored_explained(ctx, token);
    if (what == "stack underflow" || what.starts_with("Stack underflow in ")) return underflow_explained(ctx, token);
    return {};
}

CollectedSlip collected_slip(Context& ctx, const std::string& token, std::string_view opener) {
    return collected_slip(ctx, token, opener, ctx.terminator);
}

CollectedSlip collected_slip(Context& ctx, const std::string& token, std::string_view opener,
                             std::string_view terminator) {
    if (token == opener && (terminator == "]" || terminator == "}")) return CollectedSlip::nested_opener;
    if (terminator != ";") return CollectedSlip::none;
    const Meaning meaning = meaning_of(ctx, token, true);
    return meaning.kind == Meaning::Kind::sigil && (*meaning.token)[0] == ':' ? CollectedSlip::definition
                                                                              : CollectedSlip::none;
}

std::string_view closer_opened_by(Context& ctx, const std::string& token) {
    const Builtin* const row = row_meant(ctx, token);
    if (row == nullptr || (row->kind != Kind::opener && row->kind != Kind::opener_sigil)) return {};
    return row->closer;
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
