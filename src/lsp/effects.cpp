#include "lsp/effects.hpp"

#include <optional>
#include <sstream>

#include "engine/meaning.hpp"
#include "words/vocabulary.hpp"

namespace forth::lsp {

Effect then(Effect first, Effect second) {
    if (first.kind == Effect::Kind::unknown || second.kind == Effect::Kind::unknown) return Effect::unknown();
    if (first.kind == Effect::Kind::never || second.kind == Effect::Kind::never) return Effect::never();
    if (second.in <= first.out) return Effect::of(first.in, first.out - second.in + second.out);
    return Effect::of(first.in + second.in - first.out, second.out);
}

std::string notation(const Effect& effect) {
    if (!effect.known()) return "( ? )";
    std::string text = "(";
    char name = 'a';
    const auto add = [&](int count) {
        for (int value = 0; value < count; ++value, name = name == 'z' ? 'a' : static_cast<char>(name + 1))
            text += std::string(" ") + name;
    };
    add(effect.in);
    text += " --";
    add(effect.out);
    return text + " )";
}

namespace {

// Splits a body, joined by single blanks, into its tokens.
std::vector<std::string> tokens_of(const std::string& body) {
    std::vector<std::string> tokens;
    std::istringstream words(body);
    for (std::string token; words >> token;) tokens.push_back(token);
    return tokens;
}

// A control word's effect once the list it runs is known: the flag or
// count, then the list when it is balanced (a list that never returns
// leaves the path that skips it).
Effect guarded(const Effect& list) {
    if (list.kind == Effect::Kind::never) return Effect::of(1, 0);
    if (!list.balanced()) return Effect::unknown();
    return Effect::of(list.in + 1, list.in);
}

// Runs token lists on depths alone.
class Walker {
public:
    explicit Walker(const std::map<std::string, Effect>& words) : words_(words) {}

    // What the lists closed last hold, as far as known.
    std::optional<Effect> quotation, loop_body;

    Effect list(const std::vector<std::string>& tokens, std::size_t from, std::size_t to) {
        // A list's own lists are its own: those of the caller come back after.
        const std::optional<Effect> outer_quotation = quotation, outer_body = loop_body;
        quotation.reset();
        loop_body.reset();
        Effect total = Effect::of(0, 0);
        for (std::size_t at = from; at < to && total.kind == Effect::Kind::known; ++at) {
            const std::string& token = tokens[at];
            const Meaning meaning = meaning_of(fresh(), token, true);
            const Builtin* row = meaning.kind == Meaning::Kind::word ? row_of(*meaning.word) : nullptr;
            if (row != nullptr && row->kind == Kind::opener) {
                std::size_t end = at + 1;
                while (end < to && tokens[end] != row->closer) ++end;
                if (end == to) {
                    total = Effect::unknown();  // it collects what follows: anything
                    break;
                }
                if (row->construct == Construct::list) {
                    const Effect inner = list(tokens, at + 1, end);
                    quotation = inner;
                }
                at = end;
                continue;
            }
            total = then(total, token_effect(token, meaning, row));
        }
        quotation = outer_quotation;
        loop_body = outer_body;
        return total;
    }

    Effect token_effect(const std::string& token, const Meaning& meaning, const Builtin* row) {
        if (meaning.kind == Meaning::Kind::number) return Effect::of(0, 1);
        // The document's words first: one may redefine a built-in.
        if (const auto word = words_.find(token); word != words_.end()) return word->second;
        if (meaning.kind == Meaning::Kind::none) return Effect::unknown();
        if (meaning.kind == Meaning::Kind::sigil) {
            switch ((*meaning.token)[0]) {
                case '=':
                case '+':
                case '-':
                    return Effect::of(1, 0);
                case '$':
                    return Effect::of(0, 1);
                case '\'': {
                    const auto word = words_.find(token.substr(1));
                    quotation = word != words_.end() ? word->second : Effect::unknown();
                    return Effect::of(0, 0);
                }
                case '?':
                    return Effect::of(0, 0);
                default:
                    return Effect::unknown();  // it defines or starts defining
            }
        }
        if (row == nullptr) return Effect::unknown();  // a shell word
        if (token == "while" || token == "until") {
            loop_body = quotation.value_or(Effect::unknown());
            return Effect::of(row->in, row->out);  // the stop value
        }
        if (row->kind != Kind::control) {
            if (row->kind == Kind::change) return Effect::unknown();
            return Effect::of(row->in, row->out);
        }
        const Effect list = quotation.value_or(Effect::unknown());
        if (token == "iftrue" || token == "iffalse" || token == "times") return guarded(list);
        if (token == "execute") return list;
        if (token == "repeat" && loop_body) {
            // Each pass: the body, then the condition and the flag it leaves.
            const Effect pass = then(then(*loop_body, list), Effect::of(1, 0));
            if (pass.kind == Effect::Kind::never) return Effect::never();
            return guarded(pass);
        }
        return Effect::unknown();  // interpret
    }

    const std::map<std::string, Effect>& words_;
};

}  // namespace

std::map<std::string, Effect> word_effects(const Analysis& analysis) {
    std::map<std::string, int> definitions;
    std::map<std::string, std::vector<std::string>> bodies;
    for (const Definition& definition : analysis.definitions) {
        if (definition.kind == Definition::Kind::variable) continue;
        ++definitions[definition.name];
        if (definition.closed) bodies[definition.name] = tokens_of(definition.body);
    }
    std::map<std::string, Effect> effects;
    for (const auto& [name, count] : definitions)
        effects[name] = count == 1 && bodies.contains(name) ? Effect::never() : Effect::unknown();
    // From "never returns", each round runs every body on the last round's
    // effects, until none changes.
    constexpr int most_rounds = 32;
    for (int round = 0; round < most_rounds; ++round) {
        std::map<std::string, Effect> next = effects;
        for (auto& [name, effect] : next) {
            if (effect.kind == Effect::Kind::unknown) continue;
            const std::vector<std::string>& tokens = bodies[name];
            effect = Walker(effects).list(tokens, 0, tokens.size());
        }
        if (next == effects) return effects;
        effects = std::move(next);
    }
    for (auto& [name, effect] : effects) effect = Effect::unknown();
    return effects;
}

void check_depths(Analysis& analysis, const std::map<std::string, Effect>& words) {
    Walker walker(words);
    std::vector<Token>& tokens = analysis.tokens;
    int depth = 0;
    for (std::size_t at = 0; at < tokens.size(); ++at) {
        const Token& token = tokens[at];
        if (token.role == Role::comment) continue;
        const Meaning meaning = meaning_of(fresh(), token.text, true);
        const Builtin* row = meaning.kind == Meaning::Kind::word ? row_of(*meaning.word) : nullptr;
        if (token.role == Role::opener) {
            // Its construct's tokens follow, collected, up to its closer.
            const std::string_view closer = opened_by(token.text).second;
            std::vector<std::string> inside;
            std::size_t end = at + 1;
            for (; end < tokens.size() && tokens[end].text != closer; ++end) {
                if (tokens[end].role != Role::comment || tokens[end].text != "\\") inside.push_back(tokens[end].text);
            }
            if (end == tokens.size()) return;
            if (row != nullptr && row->construct == Construct::list) walker.quotation = walker.list(inside, 0, inside.size());
            at = end;
            continue;
        }
        // A built-in the document redefines: which one runs depends on when.
        const bool user = words.contains(token.text);
        if (user && meaning.kind == Meaning::Kind::word) return;
        const Effect effect = walker.token_effect(token.text, meaning, row);
        if (!effect.known()) return;
        // Numbers, variables and the words that are no control words take
        // what they take whatever happens; a word's body may take less.
        const bool certain = !user && (meaning.kind == Meaning::Kind::number || meaning.kind == Meaning::Kind::sigil ||
                                       (row != nullptr && row->kind != Kind::control));
        if (depth < effect.in) {
            if (certain) {
                analysis.diagnostics.push_back(
                    {token.range, Diagnostic::Severity::error,
                     "`" + token.text + "` takes " + std::to_string(effect.in) + (effect.in == 1 ? " value" : " values") +
                         " and the stack holds " + std::to_string(depth) +
                         " here: running it fails with a stack underflow"});
                sort_by_place(analysis.diagnostics);
            }
            return;
        }
        depth += effect.out - effect.in;
    }
}

}  // namespace forth::lsp
