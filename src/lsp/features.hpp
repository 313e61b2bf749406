#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "lsp/analysis.hpp"

// What an editor asks of a document, as plain functions over its analysis:
// no messages, no JSON (lsp/server.hpp speaks the protocol). `uri` is the
// document's.
namespace forth::lsp {

struct Location {
    std::string uri;
    Range range;
    friend bool operator==(const Location&, const Location&) = default;
};

struct Hover {
    std::string markdown;
    Range range;
};
std::optional<Hover> hover(const Analysis& analysis, const std::string& uri, Position at);

// The protocol's kinds of completion items.
enum class ItemKind { function = 3, variable = 6, keyword = 14 };
struct CompletionItem {
    std::string label;
    ItemKind kind;
    std::string detail;
    // What choosing it replaces: what is typed of the token so far, sigil
    // and all, so that `$c` becomes `$count` and `-r` becomes `-rot`.
    Range replaces;
};
std::vector<CompletionItem> completion(const Analysis& analysis, Position at);

std::vector<Location> definitions(const Analysis& analysis, Position at);
std::vector<Location> references(const Analysis& analysis, const std::string& uri, Position at);

struct TextEdit {
    Range range;
    std::string text;
    friend bool operator==(const TextEdit&, const TextEdit&) = default;
};
// The edits of a rename by file, or why there can be none.
struct Renamed {
    std::map<std::string, std::vector<TextEdit>> changes;
    std::string refused;
};
Renamed rename(const Analysis& analysis, const std::string& uri, Position at, const std::string& name);

// The outline of one file of the analysis: each word and alias, and each
// variable at its first store; only names holding `query` (in any case)
// when one is given. `seen` keeps a variable to one entry across calls.
struct Symbol {
    std::string name;
    enum class Kind { function = 12, variable = 13, constant = 14 } kind;
    Range range;
};
std::vector<Symbol> outline(const Analysis& analysis, const std::string& file, const std::optional<std::string>& query,
                            std::set<std::pair<std::string, std::string>>& seen);

// A word's effect after the name of each :name definition.
struct InlayHint {
    Position at;
    std::string label;
};
std::vector<InlayHint> inlay_hints(const Analysis& analysis, const std::string& uri);

// The fixes of the document's diagnostics that touch `range`: each edits
// the document alone, and fixes the diagnostic of that index.
struct CodeAction {
    std::string title;
    std::size_t diagnostic;
    std::vector<TextEdit> edits;
    bool preferred = false;  // the one fix of its diagnostic
};
std::vector<CodeAction> quick_fixes(const Analysis& analysis, const std::string& uri, const Range& range);

// Every token of the document that names what the token at `at` names: a
// write where it defines or stores it (:name /name @name =x +x -x).
struct Highlight {
    Range range;
    enum class Kind { read = 2, write = 3 } kind;
    friend bool operator==(const Highlight&, const Highlight&) = default;
};
std::vector<Highlight> highlights(const Analysis& analysis, Position at);

// What the document may fold: each construct over more than one line,
// definitions included, and each run of two or more lines of \ comment.
struct Fold {
    int start_line, end_line;
    bool comment;
    friend bool operator==(const Fold&, const Fold&) = default;
};
std::vector<Fold> folds(const Analysis& analysis);

// The range of the name a rename at `at` would change, without its sigil;
// none where rename refuses whatever the new name.
std::optional<Range> rename_range(const Analysis& analysis, Position at);

// A word as the call hierarchy shows it: its definition (`range`) and the
// token that names it, or the top level of a file, which calls words too.
struct CallItem {
    std::string name;
    std::string detail;  // a word's effect
    std::string uri;
    Range range, selection;
    bool top_level = false;
};
// What calls a word (incoming), or what it calls (outgoing), and where: the
// ranges of the calls, in the caller's file.
struct Call {
    CallItem item;
    std::vector<Range> at;
};
// The word at `at`: the definition a :name begins, or the one a use runs as
// the document leaves the dictionary.
std::vector<CallItem> call_items(const Analysis& analysis, const std::string& uri, Position at);
std::vector<Call> incoming_calls(const Analysis& analysis, const std::string& uri, const CallItem& callee);
std::vector<Call> outgoing_calls(const Analysis& analysis, const std::string& uri, const CallItem& caller);

// The colours of tokens, by their index in this legend, and each token as
// five numbers: its line and start, each from the last token's, its length,
// its colour and its modifiers.
const std::vector<std::string>& token_types();
std::vector<int> semantic_tokens(const Analysis& analysis);

}  // namespace forth::lsp
