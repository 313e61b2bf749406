#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/context.hpp"
#include "lsp/effects.hpp"
#include "words/vocabulary.hpp"

// What an editor needs to know of one document: its tokens as the
// interpreter reads them, what each stands for, the names it defines and
// stores, and what looks wrong before anything runs. The document is read
// by the interpreter's own reader, in a Context of its own: its tokens,
// its collecting of constructs, and definitions and aliases made as they
// come, so that each token means what it would mean to a run there. What
// would compute is not run but followed on symbolic values (lsp/effects.hpp).
namespace forth::lsp {

// The tables a fresh interpreter starts with: what a token means before
// the document changes anything. Each thread has its own.
Context& fresh();

// A place in a document as the editor counts it: lines from 0, and
// characters in UTF-16 code units from the start of the line.
struct Position {
    int line = 0;
    int character = 0;
    friend bool operator==(const Position&, const Position&) = default;
};
struct Range {
    Position start, end;
    bool contains(Position at) const;
    friend bool operator==(const Range&, const Range&) = default;
};

enum class Role {
    builtin,    // a built-in word (or an alias of one)
    user_word,  // a word the document or an included file defines
    sigil,      // a sigil token: =x $x :name 'name ...
    number,
    unknown,    // stands for nothing the document knows
    text,       // inside ( ... )
    comment,    // inside /* ... */, or after a lone backslash
    opener,
    closer,
};

struct Token {
    std::string text;
    Range range;
    Role role = Role::unknown;
    bool collected = false;  // inside a construct, so run later or never
    // A word run at the top level: what it did there, as it was then.
    std::optional<Effect> effect;
};

// A name the document gives a meaning: a word (:name, /name), an alias
// (@name) or a variable (=name, +name, -name), at the token that does it.
struct Definition {
    enum class Kind { word, alias, variable };
    Kind kind;
    std::string name;
    std::string uri;  // the document it is in
    Range range;      // the whole token
    std::string body;     // a :name definition's tokens, joined
    std::string comment;  // the comment lines right above it
    bool closed = false;  // a :name definition that its ; closed
};

struct Diagnostic {
    enum class Severity { error = 1, warning = 2, information = 3 };
    // What was found, for what an editor offers to fix; none for what a
    // run reports alone.
    enum class Slip {
        none,
        unknown_word,
        not_defined_yet,
        number_out_of_range,
        never_stored,
        empty_name,
        definition_in_definition,  // most often a missing ;
        lone_closer,
        nested_opener,
        never_closed,
        underflow,
    };
    struct Related {
        std::string uri;
        Range range;
        std::string message;
    };
    Range range;
    Severity severity;
    std::string message;
    std::vector<Related> related = {};
    Slip slip = Slip::none;
};

struct Analysis {
    std::vector<Token> tokens;
    std::vector<Definition> definitions;  // this document's and its includes'
    std::vector<Diagnostic> diagnostics;  // this document's only
    std::vector<std::string> included;    // the URIs followed
    std::map<std::string, std::vector<Token>> included_tokens;  // by URI
    // Each word's and alias's effect as the document leaves the dictionary,
    // with the names its comment gives, if their counts match.
    struct Known {
        Effect effect;
        std::optional<Names> names;
    };
    std::map<std::string, Known> effects;
};

// A word's effect as the analysis found it at the end of the document: "( n -- n*n )".
std::string effect_notation(const Analysis& analysis, const std::string& name);

// Reads an included file, given its URI; none when it can't be read.
using Loader = std::function<std::optional<std::string>(const std::string& uri)>;

Analysis analyse(const std::string& uri, std::string_view text, const Loader& load);

// In the order of their places in the document.
void sort_by_place(std::vector<Diagnostic>& diagnostics);

// The token at `at`, if any.
const Token* token_at(const Analysis& analysis, Position at);

// The name a sigil token or a word token refers to, and whether it is a
// variable; none for anything else.
struct Reference {
    std::string name;
    bool variable;
};
std::optional<Reference> reference_of(const Token& token);

// Whether `name`, as a token, is read as no built-in word, sigil or number,
// so that it can name a word of the document.
bool is_plain_name(const std::string& name);

// "file:///a/b.tv" and "lib/c.tv" give "file:///a/lib/c.tv"; the path is
// escaped for the URI ("my lib.tv" gives "file:///a/my%20lib.tv").
std::string resolve_uri(const std::string& base, const std::string& path);

// What `included` reads for `name` in the file `including`: the file beside
// it, or else the one beside the document `root`, the folder a program is
// most often run from (the interpreter opens names from where it runs).
// None when neither can be read.
// Files may include one another this deep, as in tolva; one more fails.
inline constexpr std::size_t most_nested_files = 256;
// An analysis reads at most this many files beside the document.
inline constexpr std::size_t most_files_read = 1000;

struct Included {
    std::string uri;
    std::string text;
};
std::optional<Included> load_included(const Loader& load, const std::string& including, const std::string& root,
                                      const std::string& name);

}  // namespace forth::lsp
