#include "lsp/analysis.hpp"

#include <algorithm>
#include <iterator>
#include <memory>
#include <set>
#include <span>
#include <unordered_set>

#include "app/shell_words.hpp"
#include "core/token_list.hpp"
#include "engine/evaluate.hpp"
#include "engine/meaning.hpp"
#include "engine/slips.hpp"
#include "lsp/uri.hpp"
#include "words/vocabulary.hpp"

namespace forth::lsp {

Context& fresh() {
    static const std::unique_ptr<Context> ctx = [] {
        auto made = std::make_unique<Context>();
        load_builtins(*made);
        add_shell_words(*made);
        return made;
    }();
    return *ctx;
}

bool Range::contains(Position at) const {
    const auto before = [](Position a, Position b) {
        return a.line < b.line || (a.line == b.line && a.character <= b.character);
    };
    return before(start, at) && before(at, end);
}

namespace {

// A construct being collected: its kind, its closing token, where it opened.
struct Open {
    Construct construct = Construct::none;
    std::string closer;
    std::size_t opener = 0;  // index of the opening token
    std::string name;        // a definition's
    std::vector<std::string> tokens;
    // A list's or a definition's tokens run later, and may hold whole
    // constructs of their own, which may hold others: those open, outermost
    // first, each with its closer.
    std::vector<std::pair<Construct, std::string_view>> inner;
    // Each closer met in `inner`, with the outermost level it closes: there
    // are only a few closers, so a token finds what it closes at once,
    // however deep the levels go.
    std::vector<std::pair<std::string_view, std::size_t>> outermost;

    void push_inner(std::pair<Construct, std::string_view> opened) {
        const auto same = [&](const auto& entry) { return entry.first == opened.second; };
        if (std::none_of(outermost.begin(), outermost.end(), same)) outermost.emplace_back(opened.second, inner.size());
        inner.push_back(opened);
    }

    // The level `token` closes, with all inside it, if it closes one.
    std::optional<std::size_t> closed_by(std::string_view token) const {
        for (const auto& [closer, level] : outermost)
            if (token == closer) return level;
        return std::nullopt;
    }

    void close_inner(std::size_t level) {
        inner.resize(level);
        std::erase_if(outermost, [&](const auto& entry) { return entry.second >= level; });
    }
};

// The sigil a token is read as, if it is read as one.
char sigil_of(const std::string& token) {
    const Meaning meaning = meaning_of(fresh(), token, true);
    return meaning.kind == Meaning::Kind::sigil ? (*meaning.token)[0] : '\0';
}

class Reader {
public:
    Reader(const Loader& load, std::set<std::string>& visited, Analysis& into, const std::string& root)
        : load_(load), visited_(visited), into_(into), root_(root) {}

    // Reads one document: its tokens into `tokens`, what it defines into the
    // analysis, and what it needs (uses, fetches) for check().
    void read(const std::string& uri, std::string_view text, std::vector<Token>& tokens) {
        uri_ = uri;
        int line = 0;
        std::size_t begin = 0;
        while (begin <= text.size()) {
            const std::size_t end = std::min(text.find('\n', begin), text.size());
            read_line(text.substr(begin, end - begin), line++, tokens);
            begin = end + 1;
        }
        if (open_) {
            const Token& opener = tokens[open_->opener];
            open_at_end_ = opener.range;
            open_text_ = opener.text;
        }
    }

    bool dynamic() const { return dynamic_; }
    bool leaves_constructs_open() const { return leaves_open_; }
    std::optional<Range> open_at_end() const { return open_at_end_; }
    const std::string& open_text() const { return open_text_; }
    std::vector<Diagnostic> warnings;

private:
    void read_line(std::string_view line, int number, std::vector<Token>& tokens) {
        std::size_t at = 0;
        int column = 0;  // in UTF-16 units
        bool first_on_line = true;
        const auto advance = [&](std::size_t to) {
            for (; at < to; ++at) {
                const auto byte = static_cast<unsigned char>(line[at]);
                if ((byte & 0xC0) != 0x80) column += byte >= 0xF0 ? 2 : 1;
            }
        };
        while (true) {
            std::size_t start = at;
            while (start < line.size() && is_blank(line[start])) ++start;
            if (start == line.size()) return;
            advance(start);
            const int first = column;
            std::size_t end = start;
            while (end < line.size() && !is_blank(line[end])) ++end;
            advance(end);
            Token token{std::string(line.substr(start, end - start)), {{number, first}, {number, column}}};
            if (token.text == "\\") {
                // A line that is all comment may tell of the definition below it.
                if (first_on_line) comment_lines_.emplace_back(number, trimmed(line.substr(end)));
                advance(line.size());
                token.range.end.character = column;
                token.role = Role::comment;
                tokens.push_back(std::move(token));
                return;
            }
            first_on_line = false;
            take(std::move(token), tokens);
        }
    }

    void take(Token token, std::vector<Token>& tokens) {
        const std::size_t index = tokens.size();
        if (open_) {
            collect(token);
        } else {
            run(token);
        }
        tokens.push_back(std::move(token));
        if (opened_now_) {
            open_->opener = index;
            opened_now_ = false;
        }
    }

    // A token collected into the open construct, or the one that closes it.
    void collect(Token& token) {
        Open& open = *open_;
        token.collected = true;
        if (token.text == open.closer) {
            token.role = Role::closer;
            close(token);
            return;
        }
        open.tokens.push_back(token.text);
        if (open.construct == Construct::comment) {
            token.role = Role::comment;
            return;
        }
        note_names(token);
        if (open.construct == Construct::text) {
            token.role = Role::text;
            return;
        }
        // Each construct collects raw until its closer: the outermost that
        // the token closes ends, with all inside it.
        if (const std::optional<std::size_t> level = open.closed_by(token.text)) {
            token.role = Role::closer;
            open.close_inner(*level);
            return;
        }
        if (!open.inner.empty() && open.inner.back().first == Construct::text) {
            token.role = Role::text;
            return;
        }
        if (!open.inner.empty() && open.inner.back().first == Construct::comment) {
            token.role = Role::comment;
            return;
        }
        if (const auto opened = opened_by(token.text); opened.first != Construct::none) open.push_inner(opened);
        classify(token);
        if (open.construct == Construct::list && token.text == (open.closer == "]" ? "[" : "{")) {
            warnings.push_back({token.range, Diagnostic::Severity::warning,
                                nested_opener_slip(token.text, open.closer, "")});
        }
        if (open.construct == Construct::definition && sigil_of(token.text) == ':') {
            warnings.push_back({token.range, Diagnostic::Severity::warning,
                                definition_slip(token.text, ":" + open.name, "", "")});
        }
    }

    void close(const Token& closer) {
        Open& open = *open_;
        if (!open.inner.empty()) leaves_open_ = true;
        if (open.construct == Construct::text) text_register_ = join(open.tokens);
        if (open.construct == Construct::definition) {
            // The definition's entry was made at its :name; now it has a body.
            Definition& defined = into_.definitions[definition_];
            defined.body = join(open.tokens);
            defined.range.end = closer.range.end;
            defined.closed = true;
        }
        open_.reset();
    }

    // A token run at once, as the interpreter would run it.
    void run(Token& token) {
        note_names(token);
        const auto [construct, closer] = opened_by(token.text);
        if (construct == Construct::definition) {
            const std::string name = token.text.substr(1);
            text_register_ = name;
            if (name.empty()) {
                warnings.push_back({token.range, Diagnostic::Severity::warning,
                                    empty_name_slip("")});
            }
            open(token, construct, std::string(closer), name);
            return;
        }
        if (construct != Construct::none) {
            open(token, construct, std::string(closer), "");
            return;
        }
        if (meaning_of(fresh(), token.text, true).kind == Meaning::Kind::word) {
            if (is_closer(token.text)) {
                token.role = Role::closer;
                lone_closers_.push_back({token.range, token.text});
                if (token.text == ";") dynamic_names_ = true;  // defines the word the text register names
                return;
            }
            if (token.text == "included") include();
            if (token.text == "interpret" || token.text == "parse-name") dynamic_ = true;
        }
        classify(token);
    }

    void open(Token& token, Construct construct, std::string closer, std::string name) {
        token.role = Role::opener;
        open_.emplace();
        open_->construct = construct;
        open_->closer = std::move(closer);
        open_->name = std::move(name);
        opened_now_ = true;
    }

    void classify(Token& token) {
        const Meaning meaning = meaning_of(fresh(), token.text, true);
        switch (meaning.kind) {
            case Meaning::Kind::word:
                token.role = is_closer(token.text) ? Role::closer : Role::builtin;
                if (const Builtin* row = row_of(*meaning.word); row != nullptr && row->kind == Kind::opener)
                    token.role = Role::opener;
                break;
            case Meaning::Kind::sigil:
                token.role = (*meaning.token)[0] == ':' ? Role::opener : Role::sigil;
                break;
            case Meaning::Kind::number:
                token.role = Role::number;
                break;
            case Meaning::Kind::none:
                token.role = Role::unknown;  // a user word, if check() finds it defined
                break;
        }
    }

    // The names a token defines or stores, wherever it is: a list, a
    // definition or a string made an alias may run it.
    void note_names(const Token& token) {
        if (open_ && open_->construct == Construct::comment) return;
        if (token.text == "times") stored_.insert("i");
        const char sigil = sigil_of(token.text);
        const std::string name = token.text.size() > 1 ? token.text.substr(1) : "";
        switch (sigil) {
            case ':':
                definition_ = into_.definitions.size();
                add(Definition::Kind::word, name, token);
                break;
            case '/':
                add(Definition::Kind::word, name, token);
                break;
            case '@':
                add(Definition::Kind::alias, name, token);
                break;
            case '=':
            case '+':
            case '-':
                stored_.insert(name);
                add(Definition::Kind::variable, name, token);
                break;
            default:
                break;
        }
    }

    void add(Definition::Kind kind, const std::string& name, const Token& token) {
        into_.definitions.push_back({kind, name, uri_, token.range, "", comment_above(token.range.start.line), false});
    }

    // The lines of comment right above `line`, without their backslash.
    // At most the 50 lines nearest, and whole lines up to 4 KiB: every
    // definition on the line below takes a copy.
    std::string comment_above(int line) const {
        constexpr std::size_t most_lines = 50, most_bytes = 4096;
        auto first = comment_lines_.end();
        for (int expected = line - 1; first != comment_lines_.begin() && std::prev(first)->first == expected &&
                                      comment_lines_.end() - first < static_cast<std::ptrdiff_t>(most_lines);
             --expected)
            --first;
        std::string text;
        for (auto it = first; it != comment_lines_.end() && text.size() + it->second.size() < most_bytes; ++it)
            text += it->second + '\n';
        return text;
    }

    static std::string trimmed(std::string_view text) {
        while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
        while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
        return std::string(text);
    }

    void include() {
        if (text_register_.empty()) return;
        // As deep as a run may go: deeper, the run fails, and what the
        // files would define is unknown here. And as many files in all as a
        // document may sensibly hold: names like "./a.tv" spell one file
        // anew at each level, so that files each including it twice would
        // be read twice as often at each level down.
        if (depth_ == most_nested_files || visited_.size() > most_files_read) {
            dynamic_ = true;
            return;
        }
        const std::optional<Included> file = load_included(load_, uri_, root_, text_register_);
        if (!file) {
            dynamic_ = true;  // what it would define is unknown
            return;
        }
        if (!visited_.insert(file->uri).second) return;
        into_.included.push_back(file->uri);
        Reader inner(load_, visited_, into_, root_);
        inner.depth_ = depth_ + 1;
        inner.read(file->uri, file->text, into_.included_tokens[file->uri]);
        stored_.merge(inner.stored_);
        dynamic_ = dynamic_ || inner.dynamic_ || inner.dynamic_names_;
        leaves_open_ = leaves_open_ || inner.leaves_open_ || inner.open_at_end_.has_value();
    }

    static std::string join(const std::vector<std::string>& tokens) {
        std::string joined;
        for (const std::string& token : tokens) joined += (joined.empty() ? "" : " ") + token;
        return joined;
    }

    const Loader& load_;
    std::size_t depth_ = 0;  // of files including one another above this one
    std::set<std::string>& visited_;
    Analysis& into_;
    const std::string& root_;  // the document analysed
    std::string uri_;
    std::optional<Open> open_;
    bool opened_now_ = false;
    std::size_t definition_ = 0;
    std::string text_register_;
    std::vector<std::pair<int, std::string>> comment_lines_;  // line, text
    std::optional<Range> open_at_end_;
    std::string open_text_;
    bool dynamic_ = false;
    bool dynamic_names_ = false;
    bool leaves_open_ = false;

public:
    std::unordered_set<std::string> stored_;
    std::vector<std::pair<Range, std::string>> lone_closers_;  // each with its closing word
    bool dynamic_names() const { return dynamic_names_; }
};

const char* construct_name(const std::string& opener) {
    if (opener == "[") return "quotation";
    if (opener == "{") return "block";
    if (opener == "(") return "string";
    if (opener == "/*") return "comment";
    return "definition";
}

}  // namespace

Analysis analyse(const std::string& uri, std::string_view text, const Loader& load) {
    Analysis analysis;
    std::set<std::string> visited{uri};
    Reader reader(load, visited, analysis, uri);
    reader.read(uri, text, analysis.tokens);
    analysis.diagnostics = std::move(reader.warnings);

    if (const std::optional<Range> open = reader.open_at_end()) {
        const std::string& opener = reader.open_text();
        analysis.diagnostics.push_back({*open, Diagnostic::Severity::error,
                                        "this " + std::string(construct_name(opener)) +
                                            " is never closed: everything after it is collected"});
    }
    // A word that leaves a construct open lets a later closer close it.
    if (!reader.leaves_constructs_open()) {
        for (const auto& [range, closer] : reader.lone_closers_) {
            analysis.diagnostics.push_back({range, Diagnostic::Severity::warning, lone_closer_slip(closer, "")});
        }
    }
    std::unordered_set<std::string> words;
    for (const Definition& definition : analysis.definitions) {
        if (definition.kind != Definition::Kind::variable) words.insert(definition.name);
    }
    const bool unknowable = reader.dynamic() || reader.dynamic_names();
    for (auto& [uri, tokens] : analysis.included_tokens) {
        for (Token& token : tokens) {
            if (token.role == Role::unknown && words.contains(token.text)) token.role = Role::user_word;
        }
    }
    for (Token& token : analysis.tokens) {
        if (token.role == Role::unknown && words.contains(token.text)) token.role = Role::user_word;
        if (unknowable || token.role == Role::comment || token.role == Role::text) continue;
        if (token.role == Role::unknown && leading_number(token.text).found) {
            analysis.diagnostics.push_back({token.range, Diagnostic::Severity::warning,
                                            "`" + token.text +
                                                "` is a number out of range: running it fails with `Out of range: "
                                                "stod`"});
        } else if (token.role == Role::unknown) {
            analysis.diagnostics.push_back({token.range, Diagnostic::Severity::warning,
                                            "`" + token.text +
                                                "` is neither built in nor defined in this file or the files it "
                                                "includes: running it fails with `Domain error: unknown word`"});
        } else if (token.role == Role::sigil && token.text[0] == '$' && sigil_of(token.text) == '$' &&
                   !reader.stored_.contains(token.text.substr(1))) {
            analysis.diagnostics.push_back(
                {token.range, Diagnostic::Severity::warning,
                 "nothing in this file or the files it includes stores the variable `" + token.text.substr(1) +
                     "`: reading it fails with `Out of range: _Map_base::at`"});
        }
    }
    sort_by_place(analysis.diagnostics);
    return analysis;
}

void sort_by_place(std::vector<Diagnostic>& diagnostics) {
    std::stable_sort(diagnostics.begin(), diagnostics.end(), [](const Diagnostic& one, const Diagnostic& other) {
        const Position a = one.range.start, b = other.range.start;
        return a.line < b.line || (a.line == b.line && a.character < b.character);
    });
}

const Token* token_at(const Analysis& analysis, Position at) {
    for (const Token& token : analysis.tokens) {
        if (token.range.contains(at)) return &token;
    }
    return nullptr;
}

std::optional<Reference> reference_of(const Token& token) {
    if (token.role == Role::user_word || token.role == Role::builtin) return Reference{token.text, false};
    if (token.role != Role::sigil && token.role != Role::opener) return std::nullopt;
    const char sigil = sigil_of(token.text);
    if (sigil == '\0') return std::nullopt;
    const bool variable = sigil == '=' || sigil == '+' || sigil == '-' || sigil == '$';
    return Reference{token.text.substr(1), variable};
}

std::pair<Construct, std::string_view> opened_by(const std::string& token) {
    const Meaning meaning = meaning_of(fresh(), token, true);
    const Builtin* row = meaning.kind == Meaning::Kind::word    ? row_of(*meaning.word)
                         : meaning.kind == Meaning::Kind::sigil ? row_of(*meaning.handler)
                                                                : nullptr;
    if (row == nullptr || row->construct == Construct::none) return {Construct::none, {}};
    return {row->construct, row->closer};
}

bool is_plain_name(const std::string& name) { return meaning_of(fresh(), name, true).kind == Meaning::Kind::none; }

std::string resolve_uri(const std::string& base, const std::string& path) {
    if (path.starts_with('/')) return uri_of_path(path);
    const std::size_t slash = base.rfind('/');
    return (slash == std::string::npos ? std::string() : base.substr(0, slash + 1)) + escape_path(path);
}

std::optional<Included> load_included(const Loader& load, const std::string& including, const std::string& root,
                                      const std::string& name) {
    for (const std::string* base : {&including, &root}) {
        const std::string uri = resolve_uri(*base, name);
        if (std::optional<std::string> text = load(uri)) return Included{uri, std::move(*text)};
    }
    return std::nullopt;
}

}  // namespace forth::lsp
