#include "lsp/features.hpp"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include "app/reference.hpp"
#include "core/token_list.hpp"
#include "engine/meaning.hpp"
#include "engine/slips.hpp"
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

// Whether what `asked` names can be renamed: a variable, or a word that is
// no built-in.
bool renamable(const Asked& asked) {
    return asked.reference && (asked.reference->variable || asked.token->role != Role::builtin);
}

bool earlier(Position one, Position other) {
    return one.line < other.line || (one.line == other.line && one.character < other.character);
}

// The index of the token that begins at `start`, the tokens in the order of
// their places.
std::optional<std::size_t> token_index(const std::vector<Token>& tokens, Position start) {
    const auto found = std::lower_bound(tokens.begin(), tokens.end(), start, [](const Token& token, Position at) {
        return earlier(token.range.start, at);
    });
    if (found == tokens.end() || found->range.start != start) return std::nullopt;
    return static_cast<std::size_t>(found - tokens.begin());
}

bool is_line_comment(const Token& token) { return token.role == Role::comment && token.text == "\\"; }

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
    // What is being typed names nothing yet: `-r` is no variable r to offer.
    const auto typing = [&](const Definition& definition) {
        return token != nullptr && definition.range == token->range;
    };
    if (first == '$' || first == '=' || first == '+' || first == '-') {
        for (const Definition& definition : analysis.definitions) {
            if (definition.kind != Definition::Kind::variable || typing(definition) ||
                !seen.insert(definition.name).second)
                continue;
            items.push_back({std::string(1, first) + definition.name, ItemKind::variable, "", typed});
        }
        if (first == '$') return items;
    }
    seen.clear();
    const std::string prefix = first == '\'' ? "'" : "";
    for (const Definition& definition : analysis.definitions) {
        if (definition.kind == Definition::Kind::variable || typing(definition) || !seen.insert(definition.name).second)
            continue;
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
    const Asked what = asked(analysis, at);
    if (!renamable(what)) return {{}, "only a word or a variable of this file can be renamed"};
    const Reference& wanted = *what.reference;
    if (name.empty() || std::any_of(name.begin(), name.end(), is_blank))
        return {{}, "a name is one token: no blanks, not empty"};
    // A word's new name must be read as no built-in, sigil or number.
    if (!wanted.variable && !is_plain_name(name))
        return {{}, "`" + name + "` would be read as a built-in word, a sigil or a number"};
    for (const Definition& definition : analysis.definitions) {
        if ((definition.kind == Definition::Kind::variable) == wanted.variable && definition.name == name)
            return {{}, "`" + name + "` is already defined"};
    }
    Renamed renamed;
    for_each_use(analysis, uri, wanted, [&](const std::string& file, const Token& use, const Reference& reference) {
        renamed.changes[file].push_back({name_range(use, use.text != reference.name), name});
    });
    return renamed;
}

std::optional<Range> rename_range(const Analysis& analysis, Position at) {
    const Asked what = asked(analysis, at);
    if (!renamable(what)) return std::nullopt;
    return name_range(*what.token, what.token->text != what.reference->name);
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

namespace {

// The known words nearest to an unknown token, nearest first: at most
// three, near as the command line's explanations take it (edits_if_near).
// Known are the built-ins and the words and aliases defined before the
// token; in a definition's body, which runs later, those defined anywhere.
std::vector<std::string> nearest_words(const Analysis& analysis, const std::string& uri, const Token& token) {
    const auto holds = [&](const Definition& definition) {
        return definition.kind == Definition::Kind::word && definition.closed && definition.uri == uri &&
               definition.range.contains(token.range.start);
    };
    const bool in_body = std::any_of(analysis.definitions.begin(), analysis.definitions.end(), holds);
    std::vector<std::pair<std::size_t, std::string>> near;  // edits, name
    const auto consider = [&](const std::string& name) {
        if (const auto edits = edits_if_near(token.text, name)) near.emplace_back(*edits, name);
    };
    for (const std::string& name : builtin_words()) consider(name);
    // Definitions are listed as they were read, included files' where they
    // were included.
    for (const Definition& definition : analysis.definitions) {
        if (!in_body && definition.uri == uri && !earlier(definition.range.start, token.range.start)) break;
        if (definition.kind != Definition::Kind::variable) consider(definition.name);
    }
    std::sort(near.begin(), near.end());
    near.erase(std::unique(near.begin(), near.end()), near.end());
    std::vector<std::string> nearest;
    for (std::size_t n = 0; n < near.size() && n < 3; ++n) nearest.push_back(near[n].second);
    return nearest;
}

// Where to store a variable before its first use: before the first token of
// that use's line, where it runs once before the line; or right before the
// use when the line begins inside a construct, a comment or a body, say.
Position store_place(const std::vector<Token>& tokens, std::size_t use) {
    std::size_t first = use;
    while (first > 0 && tokens[first - 1].range.start.line == tokens[use].range.start.line) --first;
    return tokens[first].collected ? tokens[use].range.start : tokens[first].range.start;
}

}  // namespace

std::vector<CodeAction> quick_fixes(const Analysis& analysis, const std::string& uri, const Range& range) {
    const std::vector<Token>& tokens = analysis.tokens;
    std::vector<CodeAction> actions;
    std::unordered_map<std::string, std::size_t> first_fetch;  // of each variable, made when first needed
    for (std::size_t n = 0; n < analysis.diagnostics.size(); ++n) {
        const Diagnostic& diagnostic = analysis.diagnostics[n];
        if (earlier(range.end, diagnostic.range.start) || earlier(diagnostic.range.end, range.start)) continue;
        const std::optional<std::size_t> at = token_index(tokens, diagnostic.range.start);
        if (!at || tokens[*at].range != diagnostic.range) continue;
        const Token& token = tokens[*at];
        const auto fix = [&](std::string title, Range where, std::string text) {
            actions.push_back({std::move(title), n, {{where, std::move(text)}}, true});
        };
        switch (diagnostic.slip) {
            case Diagnostic::Slip::empty_name: {
                // The name is the next token, unless none follows on the line.
                if (*at + 1 == tokens.size()) break;
                const Token& name = tokens[*at + 1];
                if (name.range.start.line != token.range.start.line || name.text == ";" || is_line_comment(name))
                    break;
                fix("write the name right after the colon: `:" + name.text + "`", {token.range.end, name.range.start},
                    "");
                break;
            }
            case Diagnostic::Slip::definition_in_definition: {
                // At the end of the line before when the :name begins its
                // line, so that each definition ends on its own line; any
                // token before a line comment is still collected there.
                std::size_t before = *at;
                const int line = token.range.start.line;
                const bool first_on_line = before == 0 || tokens[before - 1].range.start.line < line;
                while (first_on_line && before > 0 && is_line_comment(tokens[before - 1])) --before;
                const std::string title = "end the open definition with ; before `" + token.text + "`";
                if (first_on_line && before > 0) {
                    fix(title, {tokens[before - 1].range.end, tokens[before - 1].range.end}, " ;");
                } else {
                    fix(title, {token.range.start, token.range.start}, "; ");
                }
                break;
            }
            case Diagnostic::Slip::unknown_word:
            case Diagnostic::Slip::not_defined_yet: {
                const std::vector<std::string> nearest = nearest_words(analysis, uri, token);
                for (const std::string& word : nearest) {
                    actions.push_back(
                        {"did you mean `" + word + "`?", n, {{token.range, word}}, nearest.size() == 1});
                }
                break;
            }
            case Diagnostic::Slip::never_stored: {
                if (first_fetch.empty()) {
                    for (std::size_t i = 0; i < tokens.size(); ++i) {
                        if (tokens[i].role == Role::sigil && tokens[i].text[0] == '$')
                            first_fetch.try_emplace(tokens[i].text, i);
                    }
                }
                const auto first = first_fetch.find(token.text);
                const Position where = store_place(tokens, first != first_fetch.end() ? first->second : *at);
                const std::string name = token.text.substr(1);
                fix("store 0 in `" + name + "` before its first use", {where, where}, "0 =" + name + " ");
                break;
            }
            case Diagnostic::Slip::lone_closer: {
                // With one blank beside it: the one after, or else the one before.
                Range removed = token.range;
                if (*at + 1 < tokens.size() && tokens[*at + 1].range.start.line == token.range.start.line) {
                    ++removed.end.character;
                } else if (removed.start.character > 0) {
                    --removed.start.character;
                }
                fix("remove the `" + token.text + "` that closes nothing", removed, "");
                break;
            }
            default:
                break;
        }
    }
    return actions;
}

std::vector<Highlight> highlights(const Analysis& analysis, Position at) {
    const std::optional<Reference> wanted = asked(analysis, at).reference;
    std::vector<Highlight> found;
    if (!wanted) return found;
    for (const Token& token : analysis.tokens) {
        const std::optional<Reference> reference = reference_of(token);
        if (!reference || !same(*reference, *wanted)) continue;
        const bool sigil = token.text != reference->name;
        const bool writes = sigil && std::string_view(":/@=+-").find(token.text[0]) != std::string_view::npos;
        found.push_back({token.range, writes ? Highlight::Kind::write : Highlight::Kind::read});
    }
    return found;
}

namespace {

// The closing word of a construct an opening token begins, whether what it
// collects runs (and so holds constructs of its own), and whether it is a
// comment.
struct Opening {
    std::string_view closer;
    bool runs, comment;
};

std::optional<Opening> opening_of(const Token& token) {
    if (token.role != Role::opener) return std::nullopt;
    if (token.text == "[") return Opening{"]", true, false};
    if (token.text == "{") return Opening{"}", true, false};
    if (token.text == "(") return Opening{")", false, false};
    if (token.text == "/*") return Opening{"*/", false, true};
    if (token.text.starts_with(':')) return Opening{";", true, false};
    return std::nullopt;
}

// The constructs of tokens[from, to) as the reader finds them: a construct
// ends at the first closing word of its kind, and one left open collects
// the rest. Each token is looked at once at each level, and a level ends at
// a closing word its own construct does not hold: at most one per closer.
void fold_constructs(const std::vector<Token>& tokens, std::size_t from, std::size_t to, std::vector<Fold>& found) {
    for (std::size_t at = from; at < to; ++at) {
        const std::optional<Opening> opening = opening_of(tokens[at]);
        if (!opening) continue;
        std::size_t end = at + 1;
        while (end < to && tokens[end].text != opening->closer) ++end;
        if (end == to) return;
        if (tokens[end].range.start.line > tokens[at].range.start.line)
            found.push_back({tokens[at].range.start.line, tokens[end].range.start.line, opening->comment});
        if (opening->runs) fold_constructs(tokens, at + 1, end, found);
        at = end;
    }
}

}  // namespace

std::vector<Fold> folds(const Analysis& analysis) {
    const std::vector<Token>& tokens = analysis.tokens;
    std::vector<Fold> found;
    fold_constructs(tokens, 0, tokens.size(), found);
    // Lines that are all comment, one after another.
    std::optional<Fold> run;
    const auto end_run = [&] {
        if (run && run->end_line > run->start_line) found.push_back(*run);
        run.reset();
    };
    for (std::size_t at = 0; at < tokens.size(); ++at) {
        const int line = tokens[at].range.start.line;
        if (!is_line_comment(tokens[at]) || (at > 0 && tokens[at - 1].range.start.line == line)) continue;
        if (run && run->end_line + 1 == line) {
            run->end_line = line;
            continue;
        }
        end_run();
        run = Fold{line, line, true};
    }
    end_run();
    std::sort(found.begin(), found.end(), [](const Fold& one, const Fold& other) {
        return one.start_line < other.start_line || (one.start_line == other.start_line && one.end_line > other.end_line);
    });
    return found;
}

namespace {

// The tokens of one file of the analysis: the document's or an included file's.
const std::vector<Token>* tokens_of(const Analysis& analysis, const std::string& uri, const std::string& file) {
    if (file == uri) return &analysis.tokens;
    const auto found = analysis.included_tokens.find(file);
    return found == analysis.included_tokens.end() ? nullptr : &found->second;
}

CallItem item_of(const Analysis& analysis, const std::string& uri, const Definition& definition) {
    CallItem item{definition.name, effect_notation(analysis, definition.name), definition.uri, definition.range,
                  definition.range};
    if (const std::vector<Token>* tokens = tokens_of(analysis, uri, definition.uri)) {
        if (const std::optional<std::size_t> at = token_index(*tokens, definition.range.start))
            item.selection = (*tokens)[*at].range;
    }
    return item;
}

CallItem top_level_of(const std::string& file, const std::vector<Token>& tokens) {
    const std::string path = path_of_uri(file).value_or(file);
    const Range whole{{0, 0}, tokens.empty() ? Position{} : tokens.back().range.end};
    return {path.substr(path.rfind('/') + 1), "top level", file, whole, {{0, 0}, {0, 0}}, true};
}

// The words as the document leaves the dictionary: each name's last definition.
std::unordered_map<std::string, const Definition*> last_words(const Analysis& analysis) {
    std::unordered_map<std::string, const Definition*> last;
    for (const Definition& definition : analysis.definitions)
        if (definition.kind == Definition::Kind::word) last[definition.name] = &definition;
    return last;
}

// Which word's body holds a token, asked of a file's tokens in the order of
// their places. Bodies do not overlap: the first ; ends a definition.
class Bodies {
public:
    Bodies(const Analysis& analysis, const std::string& file) {
        for (const Definition& definition : analysis.definitions) {
            if (definition.kind == Definition::Kind::word && definition.closed && definition.uri == file)
                bodies_.push_back(&definition);
        }
        // A file included twice was read twice.
        std::sort(bodies_.begin(), bodies_.end(), [](const Definition* one, const Definition* other) {
            return earlier(one->range.start, other->range.start);
        });
        bodies_.erase(std::unique(bodies_.begin(), bodies_.end(),
                                  [](const Definition* one, const Definition* other) {
                                      return one->range.start == other->range.start;
                                  }),
                      bodies_.end());
    }

    const Definition* holding(const Token& token) {
        while (next_ < bodies_.size() && earlier(bodies_[next_]->range.end, token.range.start)) ++next_;
        const bool inside = next_ < bodies_.size() && !earlier(token.range.start, bodies_[next_]->range.start);
        return inside ? bodies_[next_] : nullptr;
    }

private:
    std::vector<const Definition*> bodies_;
    std::size_t next_ = 0;
};

// The word definition a call hierarchy item stands for; none for another.
const Definition* definition_of(const Analysis& analysis, const CallItem& item) {
    for (const Definition& definition : analysis.definitions) {
        if (definition.kind == Definition::Kind::word && definition.uri == item.uri &&
            definition.name == item.name && definition.range.start == item.range.start)
            return &definition;
    }
    return nullptr;
}

}  // namespace

std::vector<CallItem> call_items(const Analysis& analysis, const std::string& uri, Position at) {
    const auto [token, reference] = asked(analysis, at);
    if (!reference || reference->variable) return {};
    const Definition* definition = nullptr;
    if (token->role == Role::opener) {
        for (const Definition& each : analysis.definitions) {
            if (each.kind == Definition::Kind::word && each.uri == uri && each.range.start == token->range.start)
                definition = &each;
        }
    } else {
        const auto last = last_words(analysis);
        if (const auto found = last.find(reference->name); found != last.end()) definition = found->second;
    }
    if (definition == nullptr) return {};
    return {item_of(analysis, uri, *definition)};
}

std::vector<Call> incoming_calls(const Analysis& analysis, const std::string& uri, const CallItem& callee) {
    std::vector<Call> calls;
    if (callee.top_level) return calls;
    // A document that includes itself has its own name among the included.
    std::vector<std::string> files{uri};
    std::copy_if(analysis.included.begin(), analysis.included.end(), std::back_inserter(files),
                 [&](const std::string& file) { return file != uri; });
    for (const std::string& file : files) {
        const std::vector<Token>* tokens = tokens_of(analysis, uri, file);
        if (tokens == nullptr) continue;
        Bodies bodies(analysis, file);
        std::map<const Definition*, std::size_t> callers;  // their calls' index; the top level's is nullptr's
        for (const Token& token : *tokens) {
            const Definition* holder = bodies.holding(token);
            if (token.role != Role::user_word || token.text != callee.name) continue;
            const auto [caller, added] = callers.try_emplace(holder, calls.size());
            if (added) {
                calls.push_back(
                    {holder != nullptr ? item_of(analysis, uri, *holder) : top_level_of(file, *tokens), {}});
            }
            calls[caller->second].at.push_back(token.range);
        }
    }
    return calls;
}

std::vector<Call> outgoing_calls(const Analysis& analysis, const std::string& uri, const CallItem& caller) {
    std::vector<Call> calls;
    const std::vector<Token>* tokens = tokens_of(analysis, uri, caller.uri);
    if (tokens == nullptr) return calls;
    const auto last = last_words(analysis);
    std::map<std::string, std::size_t> callees;  // their calls' index
    const auto add = [&](const Token& token) {
        if (token.role != Role::user_word) return;
        const auto word = last.find(token.text);
        if (word == last.end()) return;  // an alias's name
        const auto [callee, added] = callees.try_emplace(token.text, calls.size());
        if (added) calls.push_back({item_of(analysis, uri, *word->second), {}});
        calls[callee->second].at.push_back(token.range);
    };
    if (caller.top_level) {
        Bodies bodies(analysis, caller.uri);
        for (const Token& token : *tokens)
            if (bodies.holding(token) == nullptr) add(token);
        return calls;
    }
    const Definition* definition = definition_of(analysis, caller);
    if (definition == nullptr) return calls;
    const std::optional<std::size_t> opener = token_index(*tokens, definition->range.start);
    if (!opener) return calls;
    for (std::size_t at = *opener + 1; at < tokens->size(); ++at) {
        if (earlier(definition->range.end, (*tokens)[at].range.start)) break;
        add((*tokens)[at]);
    }
    return calls;
}

}  // namespace forth::lsp
