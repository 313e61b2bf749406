#include "lsp/features.hpp"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "core/token_list.hpp"
#include "engine/meaning.hpp"
#include "lsp/reference.hpp"
#include "lsp/uri.hpp"

namespace forth::lsp {

namespace {

// What a position asks about: the token there and what it names.
struct Asked {
    const Token* token = nullptr;
    std::optional<Reference> reference;
};

Asked asked(const Analysis& analysis, Position at) {
    Asked asked;
    asked.token = token_at(analysis, at);
    if (asked.token != nullptr) asked.reference = reference_of(*asked.token);
    return asked;
}

bool same(const Reference& one, const Reference& other) {
    return one.variable == other.variable && one.name == other.name;
}

// The :name definition a token of the document begins, if it does.
const Definition* defined_at(const Analysis& analysis, const Token& token) {
    if (token.role != Role::opener || !token.text.starts_with(':')) return nullptr;
    for (const Definition& definition : analysis.definitions) {
        if (definition.kind == Definition::Kind::word && definition.closed &&
            definition.range.start == token.range.start && definition.name == token.text.substr(1))
            return &definition;
    }
    return nullptr;
}

// A word's definition, its effect (as run at one place, when given) and
// its comment.
std::string word_text(const Analysis& analysis, const Definition& definition, const std::optional<Effect>& run_as) {
    std::string effect = effect_notation(analysis, definition.name);
    if (run_as) {
        const auto known = analysis.effects.find(definition.name);
        effect = notation(*run_as, known != analysis.effects.end() ? known->second.names : std::nullopt);
    }
    return "```tolva\n:" + definition.name + ' ' + definition.body + " ;\n```\n`" + effect + "`\n\n" +
           definition.comment;
}

// `uri` as a reader of the document `base` would name it: its path from
// the document's folder when it is below it, else its path.
std::string relative_name(const std::string& base, const std::string& uri) {
    const std::size_t slash = base.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : base.substr(0, slash + 1);
    if (!uri.starts_with(folder)) return path_of_uri(uri).value_or(uri);
    const std::string below = uri.substr(folder.size());
    const std::optional<std::string> path = path_of_uri("file:///" + below);
    return path ? path->substr(1) : below;
}

// The names of a fresh interpreter's words and aliases, sorted.
const std::set<std::string>& builtin_words() {
    static const std::set<std::string> names = [] {
        const Context& ctx = fresh();
        std::set<std::string> all;
        for (const auto& [name, word] : ctx.words) all.insert(name);
        for (const auto& [name, replacement] : ctx.aliases) all.insert(name);
        return all;
    }();
    return names;
}

// The range of a token's name: all of it, or what follows its sigil.
Range name_range(const Token& token, bool sigil) {
    Range range = token.range;
    if (sigil) ++range.start.character;
    return range;
}

// Calls `each` with the URI and every token of the document and the files
// it includes that names what `wanted` names.
template <typename Each>
void for_each_use(const Analysis& analysis, const std::string& uri, const Reference& wanted, Each each) {
    const auto in = [&](const std::string& file, const std::vector<Token>& tokens) {
        for (const Token& token : tokens) {
            const std::optional<Reference> reference = reference_of(token);
            if (reference && same(*reference, wanted)) each(file, token, *reference);
        }
    };
    in(uri, analysis.tokens);
    for (const auto& [file, tokens] : analysis.included_tokens) in(file, tokens);
}

}  // namespace

std::optional<Hover> hover(const Analysis& analysis, const std::string& uri, Position at) {
    const auto [token, reference] = asked(analysis, at);
    if (token == nullptr || token->role == Role::comment || token->role == Role::text) return std::nullopt;
    std::string text;
    if (token->role == Role::number) {
        const LeadingNumber number = leading_number(token->text);
        std::ostringstream value;
        value << number.value;
        text = "The number " + value.str() + ".";
    } else if (const Definition* defined = defined_at(analysis, *token)) {
        text = word_text(analysis, *defined, std::nullopt);
    } else if (token->role == Role::builtin || token->role == Role::opener || token->role == Role::closer) {
        const bool sigil = token->role == Role::opener && token->text.starts_with(':');
        text = "```tolva\n" + token->text + "\n```\n" + describe(sigil ? ":" : token->text, sigil);
    } else if (token->role == Role::user_word && reference) {
        for (const Definition& definition : analysis.definitions) {
            if (definition.kind == Definition::Kind::variable || definition.name != reference->name) continue;
            text += word_text(analysis, definition, token->effect);
        }
    } else if (token->role == Role::sigil && reference) {
        text = describe(token->text.substr(0, 1), true);
        if (reference->variable) {
            std::string places;
            for (const Definition& definition : analysis.definitions) {
                if (definition.kind != Definition::Kind::variable || definition.name != reference->name) continue;
                if (!places.empty()) places += ", ";
                if (definition.uri == uri) {
                    places += "line ";
                } else {
                    places.append("`").append(relative_name(uri, definition.uri)).append("`:");
                }
                places += std::to_string(definition.range.start.line + 1);
            }
            text += "\n\nThe variable `" + reference->name + "` is stored " +
                    (places.empty() ? std::string("nowhere in this file") : "at " + places) + '.';
        }
    } else if (token->role == Role::unknown) {
        text = "`" + token->text + "` is no word, sigil or number here.";
    }
    if (text.empty()) return std::nullopt;
    return Hover{text, token->range};
}

std::vector<CompletionItem> completion(const Analysis& analysis, Position at) {
    // What is typed of the token so far. A variable sigil may begin a
    // variable's name or a word's (-rot); $ only a variable's.
    const Token* token = token_at(analysis, at);
    const Range typed{token != nullptr ? token->range.start : at, at};
    const char first = token != nullptr ? token->text[0] : '\0';
    std::vector<CompletionItem> items;
    std::set<std::string> seen;
    if (first == '$' || first == '=' || first == '+' || first == '-') {
        for (const Definition& definition : analysis.definitions) {
            if (definition.kind != Definition::Kind::variable || !seen.insert(definition.name).second) continue;
            items.push_back({std::string(1, first) + definition.name, ItemKind::variable, "", typed});
        }
        if (first == '$') return items;
    }
    seen.clear();
    const std::string prefix = first == '\'' ? "'" : "";
    for (const Definition& definition : analysis.definitions) {
        if (definition.kind == Definition::Kind::variable || !seen.insert(definition.name).second) continue;
        items.push_back({prefix + definition.name, ItemKind::function,
                         definition.kind == Definition::Kind::alias
                             ? std::string("alias")
                             : effect_notation(analysis, definition.name) + ' ' + definition.body,
                         typed});
    }
    for (const std::string& name : builtin_words()) {
        if (!seen.insert(name).second) continue;
        items.push_back({prefix + name, ItemKind::keyword, effect_of(describe(name, false)), typed});
    }
    return items;
}

std::vector<Location> definitions(const Analysis& analysis, Position at) {
    const std::optional<Reference> reference = asked(analysis, at).reference;
    std::vector<Location> found;
    if (!reference) return found;
    for (const Definition& definition : analysis.definitions) {
        if ((definition.kind == Definition::Kind::variable) == reference->variable && definition.name == reference->name)
            found.push_back({definition.uri, definition.range});
    }
    return found;
}

std::vector<Location> references(const Analysis& analysis, const std::string& uri, Position at) {
    const std::optional<Reference> wanted = asked(analysis, at).reference;
    std::vector<Location> found;
    if (!wanted) return found;
    for_each_use(analysis, uri, *wanted,
                 [&](const std::string& file, const Token& use, const Reference&) { found.push_back({file, use.range}); });
    return found;
}

Renamed rename(const Analysis& analysis, const std::string& uri, Position at, const std::string& name) {
    const auto [token, wanted] = asked(analysis, at);
    if (!wanted || (!wanted->variable && token->role == Role::builtin))
        return {{}, "only a word or a variable of this file can be renamed"};
    if (name.empty() || std::any_of(name.begin(), name.end(), is_blank))
        return {{}, "a name is one token: no blanks, not empty"};
    // A word's new name must be read as no built-in, sigil or number.
    if (!wanted->variable && !is_plain_name(name))
        return {{}, "`" + name + "` would be read as a built-in word, a sigil or a number"};
    for (const Definition& definition : analysis.definitions) {
        if ((definition.kind == Definition::Kind::variable) == wanted->variable && definition.name == name)
            return {{}, "`" + name + "` is already defined"};
    }
    Renamed renamed;
    for_each_use(analysis, uri, *wanted, [&](const std::string& file, const Token& use, const Reference& reference) {
        renamed.changes[file].push_back({name_range(use, use.text != reference.name), name});
    });
    return renamed;
}

std::vector<Symbol> outline(const Analysis& analysis, const std::string& file, const std::optional<std::string>& query,
                            std::set<std::pair<std::string, std::string>>& seen) {
    const auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    std::vector<Symbol> found;
    for (const Definition& definition : analysis.definitions) {
        if (definition.uri != file) continue;
        const bool variable = definition.kind == Definition::Kind::variable;
        if (variable && !seen.emplace(file, "$" + definition.name).second) continue;
        if (query && lower(definition.name).find(lower(*query)) == std::string::npos) continue;
        const Symbol::Kind kind = variable                                       ? Symbol::Kind::variable
                                  : definition.kind == Definition::Kind::alias ? Symbol::Kind::constant
                                                                                 : Symbol::Kind::function;
        found.push_back({definition.name, kind, definition.range});
    }
    return found;
}

std::vector<InlayHint> inlay_hints(const Analysis& analysis, const std::string& uri) {
    std::vector<InlayHint> hints;
    for (const Definition& definition : analysis.definitions) {
        if (!definition.closed || definition.uri != uri) continue;
        const Token* opener = token_at(analysis, definition.range.start);
        if (opener == nullptr) continue;
        hints.push_back({opener->range.end, effect_notation(analysis, definition.name)});
    }
    return hints;
}

const std::vector<std::string>& token_types() {
    static const std::vector<std::string> types = {"function", "variable", "keyword", "number",
                                                   "string",   "comment",  "operator"};
    return types;
}

namespace {

// A role's index in token_types and its modifiers; -1 for no colour.
std::pair<int, int> colour_of(const Token& token) {
    constexpr int default_library = 1;
    switch (token.role) {
        case Role::builtin:
            return {0, default_library};
        case Role::user_word:
            return {0, 0};
        case Role::sigil:
            return {reference_of(token) && reference_of(token)->variable ? 1 : 6, 0};
        case Role::opener:
        case Role::closer:
            return {2, 0};
        case Role::number:
            return {3, 0};
        case Role::text:
            return {4, 0};
        case Role::comment:
            return {5, 0};
        case Role::unknown:
            break;
    }
    return {-1, 0};
}

}  // namespace

std::vector<int> semantic_tokens(const Analysis& analysis) {
    std::vector<int> data;
    Position last;
    for (const Token& token : analysis.tokens) {
        const auto [type, modifiers] = colour_of(token);
        if (type < 0) continue;
        const Position at = token.range.start;
        data.insert(data.end(), {at.line - last.line, at.line == last.line ? at.character - last.character : at.character,
                                 token.range.end.character - at.character, type, modifiers});
        last = at;
    }
    return data;
}

}  // namespace forth::lsp
