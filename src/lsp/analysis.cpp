#include "lsp/analysis.hpp"

#include <algorithm>
#include <iterator>
#include <memory>
#include <set>
#include <span>
#include <sstream>
#include <utility>
#include <unordered_set>

#include "app/sandbox.hpp"
#include "app/shell_words.hpp"
#include "core/token_list.hpp"
#include "core/user_word.hpp"
#include "engine/evaluate.hpp"
#include "engine/meaning.hpp"
#include "engine/slips.hpp"
#include "lsp/uri.hpp"
#include "words/vocabulary.hpp"

namespace forth::lsp {

Context& fresh() {
    // One a thread: looking a word up writes the Context's caches, and
    // servers may run on several threads.
    static thread_local const std::unique_ptr<Context> ctx = [] {
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

const char* construct_name(std::string_view opener) {
    if (opener == "[") return "quotation";
    if (opener == "{") return "block";
    if (opener == "(") return "string";
    if (opener == "/*") return "comment";
    return "definition";
}

// The row of a token's meaning, for a built-in word or sigil.
const Builtin* row_of_meaning(const Meaning& meaning) {
    if (meaning.kind == Meaning::Kind::word) return row_of(*meaning.word);
    if (meaning.kind == Meaning::Kind::sigil) return row_of(*meaning.handler);
    return nullptr;
}

Role role_of(const Meaning& meaning) {
    switch (meaning.kind) {
        case Meaning::Kind::word: {
            if (meaning.word->target<UserWord>() != nullptr) return Role::user_word;
            const Builtin* row = row_of(*meaning.word);
            if (row != nullptr && row->kind == Kind::opener) return Role::opener;
            if (row != nullptr && is_closer(row->name)) return Role::closer;
            return Role::builtin;
        }
        case Meaning::Kind::sigil:
            return (*meaning.token)[0] == ':' ? Role::opener : Role::sigil;
        case Meaning::Kind::number:
            return Role::number;
        case Meaning::Kind::none:
            break;
    }
    return Role::unknown;
}

std::string join(const std::vector<Token>& tokens, std::size_t from, std::size_t to) {
    std::string joined;
    for (std::size_t at = from; at < to; ++at) joined += (joined.empty() ? "" : " ") + tokens[at].text;
    return joined;
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

// A run of tokens collected into one construct, of one file, that runs
// later: each is given its role once the document has been read, as the
// dictionary then stands, and where its list runs, an unknown word there is
// said.
struct Collected {
    std::vector<Token>* tokens;
    std::size_t from, to;
    bool runs;
};

// Reads a document and the files it includes as a run would, in a Context
// of its own that only defines: the interpreter's collecting, definitions
// and aliases are run for real, and the rest is followed by the effects.
class Reader {
public:
    Reader(const Loader& load, Analysis& into, const std::string& root)
        : load_(load), into_(into), root_(root), effects_(reading_), top_(effects_) {
        load_builtins(reading_);
        add_shell_words(reading_);
        reading_.out = &nowhere_;
        reading_.err = &nowhere_;
        reading_.in = &no_input_;
        visited_.insert(root);
        read_files_[root] = 0;
    }

    void read_document(std::string_view text) { read(root_, text, into_.tokens, 0); }

    // After the document: what is still open, the roles of collected
    // tokens, the unknown words in lists that run, and each word's effect.
    void finish() {
        uri_ = root_;
        if (open_ && open_->uri == root_ && !blind_) {
            const Token& opener = into_.tokens[open_->opener];
            into_.diagnostics.push_back({opener.range, Diagnostic::Severity::error,
                                         "this " + std::string(construct_name(opener.text.substr(0, opener.text[0] == ':' ? 1 : opener.text.size()))) +
                                             " is never closed: everything after it is collected",
                                         {}, Diagnostic::Slip::never_closed});
        }
        // A definition still being written is checked as the word it will be.
        if (open_) {
            collected_.push_back({open_->tokens, open_->opener + 1, open_->tokens->size(),
                                  open_->construct == Construct::definition});
        }
        for (const Collected& run : collected_) classify(*run.tokens, run.from, run.to, run.runs && run.tokens == &into_.tokens);
        say_unknowns();
        // A word's names are those of the comment on its last definition.
        std::unordered_map<std::string, const Definition*> last;
        for (const Definition& definition : into_.definitions)
            if (definition.kind == Definition::Kind::word) last[definition.name] = &definition;
        // What running something may have defined anew is not known.
        for (const Definition& definition : into_.definitions) {
            if (definition.kind == Definition::Kind::variable || into_.effects.contains(definition.name)) continue;
            const auto comment = last.find(definition.name);
            const bool sure = !anything_ && !uncertain_.contains(definition.name);
            into_.effects.emplace(definition.name,
                                  Analysis::Known{sure ? effects_.of_word(definition.name).effect : Effect::unknown(),
                                                  comment != last.end() ? declared_names(comment->second->comment)
                                                                        : std::nullopt});
        }
    }

private:
    // A construct open at the top level.
    struct Open {
        std::string uri;
        std::vector<Token>* tokens;
        std::size_t opener;  // index of its opening token
        Construct construct;
        std::string opener_text;
        std::optional<std::size_t> definition;  // its entry, for :name
    };

    void read(const std::string& uri, std::string_view text, std::vector<Token>& tokens, std::size_t depth) {
        const std::string outer_uri = std::exchange(uri_, uri);
        const std::size_t outer_depth = std::exchange(depth_, depth);
        auto outer_comments = std::exchange(comment_lines_, {});
        int number = 0;
        std::size_t begin = 0;
        while (begin <= text.size()) {
            const std::size_t end = std::min(text.find('\n', begin), text.size());
            read_line(text.substr(begin, end - begin), number++, tokens);
            begin = end + 1;
        }
        if (depth > 0 && open_ && open_->tokens == &tokens) {
            // A file that ends inside a construct: the including file's
            // tokens would be collected, which this reading does not follow.
            collected_.push_back({open_->tokens, open_->opener + 1, tokens.size(), false});
            open_.reset();
            reading_.terminator.clear();
            lose_track(true, true);
        }
        uri_ = outer_uri;
        depth_ = outer_depth;
        comment_lines_ = std::move(outer_comments);
    }

    void read_line(std::string_view line, int number, std::vector<Token>& tokens) {
        std::size_t position = 0, counted = 0;
        int column = 0;  // in UTF-16 units
        const auto column_at = [&](std::size_t to) {
            for (; counted < to; ++counted) {
                const auto byte = static_cast<unsigned char>(line[counted]);
                if ((byte & 0xC0) != 0x80) column += byte >= 0xF0 ? 2 : 1;
            }
            return column;
        };
        bool first_on_line = true;
        for (std::string_view text; !(text = next_token(line, position)).empty(); first_on_line = false) {
            const std::size_t start = position - text.size();
            Token token{std::string(text), {{number, column_at(start)}, {number, column_at(position)}}, Role::unknown, false, {}};
            if (text == "\\") {
                // A line that is all comment may tell of the definition below it.
                if (first_on_line) comment_lines_.emplace_back(number, trimmed(line.substr(position)));
                token.range.end.character = column_at(line.size());
                token.role = Role::comment;
                tokens.push_back(std::move(token));
                return;
            }
            take(std::move(token), tokens);
        }
    }

    bool diagnosing() const { return uri_ == root_; }

    void diagnose(const Token& token, Diagnostic::Slip slip, Diagnostic::Severity severity, std::string message) {
        if (diagnosing()) into_.diagnostics.push_back({token.range, severity, std::move(message), {}, slip});
    }

    // From here on, what a token means may hang on what runs: words may have
    // been defined that no reading sees.
    // `any_name`: any word may have been defined anew, not only those in
    // uncertain_; `blind`: even what is open and collecting may differ.
    void lose_track(bool any_name, bool blind = false) {
        dynamic_ = true;
        anything_ = anything_ || any_name || blind;
        blind_ = blind_ || blind;
        top_.lose_track();
    }

    // Runs what the interpreter runs to collect and define. An error there
    // ('name of no word) is the run's to report: it defined nothing, and
    // the reading goes on as the document does once it is mended.
    void run_for_real(const std::string& token) {
        try {
            resolve(reading_, token);
        } catch (...) {
            reading_.terminator.clear();
        }
    }

    void take(Token token, std::vector<Token>& tokens) {
        const std::size_t index = tokens.size();
        if (!reading_.terminator.empty()) {
            tokens.push_back(std::move(token));
            collect(tokens, index);
            return;
        }
        tokens.push_back(std::move(token));
        Token& taken = tokens.back();
        const Meaning meaning = meaning_of(reading_, taken.text, true);
        taken.role = role_of(meaning);
        const Builtin* row = row_of_meaning(meaning);
        note_names(taken, meaning);
        if (row != nullptr && (row->kind == Kind::opener || row->kind == Kind::opener_sigil)) {
            open(taken, tokens, index, *row);
            return;
        }
        check_depth(taken);
        if (row != nullptr && row->kind == Kind::change) {
            // ; alone: defines the word the text register names, with what
            // the buffer holds.
            if (!blind_)
                diagnose(taken, Diagnostic::Slip::lone_closer, Diagnostic::Severity::warning,
                         lone_closer_slip(taken.text, ""));
            if (!text_register_fits()) return;
            const std::string name = reading_.text;
            const std::string body = joined(reading_.buffer);
            run_for_real(taken.text);
            add(Definition::Kind::word, name, taken);
            into_.definitions.back().body = body;
            into_.definitions.back().closed = true;
            return;
        }
        if (row != nullptr && row->kind == Kind::effect && is_closer(row->name)) {
            if (!blind_)
                diagnose(taken, Diagnostic::Slip::lone_closer, Diagnostic::Severity::warning,
                         lone_closer_slip(taken.text, ""));
            run_for_real(taken.text);
            if (taken.text == ")") text_unknown_ = false;
            if (row->closer.empty() && (taken.text == "]" || taken.text == "}")) top_.closed_list(reading_.quotation);
            return;
        }
        if (meaning.kind == Meaning::Kind::sigil && row != nullptr && row->kind == Kind::other_sigil &&
            row_number(*row) != Row::show_definition) {
            top_.step(taken.text);
            if (row_number(*row) == Row::make_alias && !text_register_fits()) return;
            run_for_real(taken.text);  // 'name, /name, @name
            if (row_number(*row) == Row::name_quotation) last_list_runs();
            return;
        }
        if (meaning.kind == Meaning::Kind::word && row == nullptr && meaning.word->target<UserWord>() == nullptr) {
            native(taken);
            return;
        }
        if (meaning.kind == Meaning::Kind::none && !dynamic_) unknown(taken, *meaning.token);
        if (meaning.kind == Meaning::Kind::sigil && row != nullptr && row->kind == Kind::fetch_sigil && !dynamic_ &&
            !stored_.contains(taken.text.substr(1))) {
            diagnose(taken, Diagnostic::Slip::never_stored, Diagnostic::Severity::warning,
                     never_stored(taken.text.substr(1)));
        }
        if (row != nullptr && row->kind == Kind::control) last_list_runs();
        if (meaning.kind == Meaning::Kind::word && row == nullptr && !anything_ && !uncertain_.contains(taken.text))
            taken.effect = effects_.of_word(taken.text).effect;
        top_.step(taken.text);
        if (taken.text == "parse-name" && row != nullptr) text_unknown_ = true;
        // Not followed to its end: what it runs is looked through instead.
        if (!top_.last.effect.known() && meaning.kind == Meaning::Kind::word) {
            std::unordered_set<const ListNode*> seen;
            const auto* user_word = meaning.word->target<UserWord>();
            const bool changes = user_word != nullptr ? may_change_reading(user_word->body, seen)
                                                      : row != nullptr && row->kind == Kind::control &&
                                                            (may_change_reading(reading_.quotation, seen) ||
                                                             may_change_reading(reading_.loop_body, seen));
            if (changes) lose_track(true, true);
        }
        if (top_.last.leaves_open) {
            lose_track(true, true);
        } else if (top_.last.defines()) {
            uncertain_.insert(top_.last.names.begin(), top_.last.names.end());
            lose_track(top_.last.anything);
        }
    }

    // Whether running `list`, and the words it calls as they stand now, may
    // define, read input or leave a construct open: what a reading that
    // did not follow it to its end can no longer trust.
    bool may_change_reading(const TokenList& list, std::unordered_set<const ListNode*>& seen) {
        if (list.node() == nullptr || !seen.insert(list.node()).second) return false;
        const std::size_t size = list.size();
        for (std::size_t at = 0; at < size; ++at) {
            const std::string token(list[at]);
            const Meaning meaning = meaning_of(reading_, token, true);
            const Builtin* row = row_of_meaning(meaning);
            if (meaning.kind == Meaning::Kind::sigil) {
                if (row == nullptr || row->kind == Kind::opener_sigil ||
                    (row->kind == Kind::other_sigil && row_number(*row) != Row::quote_word &&
                     row_number(*row) != Row::show_definition))
                    return true;
            } else if (meaning.kind == Meaning::Kind::word && row == nullptr) {
                const auto* user_word = meaning.word->target<UserWord>();
                if (user_word != nullptr ? may_change_reading(user_word->body, seen)
                                         : token != "bye" && token != "clear" && token != ".buffer" && token != ".input")
                    return true;
            } else if (row != nullptr && (row->kind == Kind::change || row_number(*row) == Row::interpret ||
                                          row_number(*row) == Row::parse_name)) {
                return true;
            } else if (row != nullptr && row->kind == Kind::opener) {
                std::size_t end = at + 1;
                while (end < size && list[end] != row->closer) ++end;
                if (end == size) return true;
                at = end;
            }
        }
        return false;
    }

    // An underflow certain at the top level: a token that takes a fixed
    // count from a stack that holds fewer on every way there.
    void check_depth(const Token& token) {
        if (underflow_said_ || dynamic_) return;
        const std::optional<std::size_t> depth = top_.depth();
        const std::optional<int> takes = effects_.fixed_take(token.text);
        if (!depth || !takes || static_cast<int>(*depth) >= *takes) return;
        underflow_said_ = true;
        diagnose(token, Diagnostic::Slip::underflow, Diagnostic::Severity::error,
                 "`" + token.text + "` takes " + std::to_string(*takes) + (*takes == 1 ? " value" : " values") +
                     " and the stack holds " + std::to_string(*depth) +
                     " here: running it fails with a stack underflow");
    }

    // Said once the document is read: a word may be defined after a use.
    void unknown(const Token& token, const std::string& tried) {
        if (diagnosing()) unknowns_.push_back({token.range, tried});
    }

    void say_unknowns() {
        std::unordered_map<std::string, const Definition*> defined;
        for (const Definition& definition : into_.definitions)
            if (definition.kind != Definition::Kind::variable) defined.try_emplace(definition.name, &definition);
        for (const auto& [range, tried] : unknowns_) {
            std::string message;
            Diagnostic::Slip slip = Diagnostic::Slip::unknown_word;
            if (leading_number(tried).found) {
                slip = Diagnostic::Slip::number_out_of_range;
                message = "`" + tried + "` is a number out of range: running it fails with `Out of range: stod`";
            } else if (const auto later = defined.find(tried); later != defined.end()) {
                slip = Diagnostic::Slip::not_defined_yet;
                message = "`" + tried + "` is not defined yet here (it is defined at line " +
                          std::to_string(later->second->range.start.line + 1) +
                          (later->second->uri == root_ ? "" : " of " + later->second->uri) +
                          "): running it here fails with `Domain error: unknown word`";
            } else {
                message = "`" + tried +
                          "` is neither built in nor defined in this file or the files it includes: running it "
                          "fails with `Domain error: unknown word`";
            }
            into_.diagnostics.push_back({range, Diagnostic::Severity::warning, std::move(message), {}, slip});
        }
    }

    static std::string never_stored(const std::string& name) {
        return "nothing in this file or the files it includes stores the variable `" + name +
               "`: reading it fails with `Out of range: _Map_base::at`; store it first, as in `0 =" + name + "`";
    }

    // A native word that is no row: included reads a file as a run would;
    // bye ends the run, which changes no meaning; clear empties the stack.
    void native(const Token& token) {
        if (token.text == "included") {
            include();
        } else if (token.text == "clear") {
            top_.lose_track();
        } else if (token.text != "bye" && token.text != ".buffer" && token.text != ".input") {
            lose_track(true);  // an embedder's word: anything
        }
    }

    // Whether defining with the text register is worth following: a name
    // or an alias this long stands for no token of a document, and copying
    // it for each would cost the reading more than the document.
    bool text_register_fits() {
        constexpr std::size_t most_followed = 4096;
        if (reading_.text.size() <= most_followed && !text_unknown_) return true;
        lose_track(true);
        return false;
    }

    void open(Token& token, std::vector<Token>& tokens, std::size_t index, const Builtin& row) {
        token.role = Role::opener;
        if (row.kind == Kind::opener_sigil) text_unknown_ = false;
        if (row.kind == Kind::opener_sigil && token.text.size() == 1 && !blind_) {
            diagnose(token, Diagnostic::Slip::empty_name, Diagnostic::Severity::warning, empty_name_slip(""));
        }
        std::optional<std::size_t> definition;
        if (row.kind == Kind::opener_sigil) definition = into_.definitions.size() - 1;  // note_names made it
        run_for_real(token.text);
        if (reading_.terminator.empty()) return;
        open_ = Open{uri_, &tokens, index, row.construct, token.text, definition};
    }

    void collect(std::vector<Token>& tokens, std::size_t index) {
        Token& token = tokens[index];
        token.collected = true;
        Open& open = *open_;
        if (token.text != reading_.terminator) {
            if (open.construct == Construct::list || open.construct == Construct::definition) {
                const CollectedSlip slip = blind_ ? CollectedSlip::none
                                                  : collected_slip(reading_, token.text, open.opener_text);
                if (slip == CollectedSlip::nested_opener) {
                    diagnose(token, Diagnostic::Slip::nested_opener, Diagnostic::Severity::warning,
                             nested_opener_slip(token.text, reading_.terminator, ""));
                } else if (slip == CollectedSlip::definition) {
                    diagnose(token, Diagnostic::Slip::definition_in_definition, Diagnostic::Severity::warning,
                             definition_slip(token.text, open.opener_text, "", ""));
                }
                note_names(token, meaning_of(reading_, token.text, true));
            }
            run_for_real(token.text);
            return;
        }
        token.role = Role::closer;
        // The closing word is looked up by name: one the document redefined
        // would run its own body, which no reading runs.
        const Word* closing = find_word(reading_, reading_.terminator);
        const bool built_in = closing != nullptr && row_of(*closing) != nullptr;
        if (built_in) {
            run_for_real(token.text);
        } else {
            reading_.terminator.clear();
            lose_track(true, true);
        }
        const bool runs = open.construct == Construct::definition;
        if (open.construct == Construct::list || open.construct == Construct::definition)
            collected_.push_back({open.tokens, open.opener + 1, index, runs});
        if (open.construct == Construct::text) text_unknown_ = false;
        if (open.construct == Construct::text || open.construct == Construct::comment) {
            for (std::size_t at = open.opener + 1; at < index; ++at)
                tokens[at].role = open.construct == Construct::text ? Role::text : Role::comment;
        }
        if (open.construct == Construct::list && built_in) {
            top_.closed_list(reading_.quotation);
            last_list_ = collected_.size() - 1;
        }
        if (open.definition) {
            Definition& defined = into_.definitions[*open.definition];
            defined.body = join(tokens, open.opener + 1, index);
            defined.range.end = token.range.end;
            defined.closed = true;
        }
        open_.reset();
    }

    // The list closed last is run by what runs now, so its unknown words fail.
    void last_list_runs() {
        if (last_list_) collected_[*last_list_].runs = true;
    }

    // Gives the roles of collected tokens as their lists run them, each
    // construct inside collected raw up to its closer.
    void classify(std::vector<Token>& tokens, std::size_t from, std::size_t to, bool runs) {
        for (std::size_t at = from; at < to; ++at) {
            Token& token = tokens[at];
            if (token.role == Role::comment && token.text == "\\") continue;
            const Meaning meaning = meaning_of(reading_, token.text, true);
            token.role = role_of(meaning);
            const Builtin* row = row_of_meaning(meaning);
            // A body runs later: a word the document defines anywhere, even
            // in a definition still being written, is none of its slips.
            if (meaning.kind == Meaning::Kind::none && runs && !dynamic_ && !defines(*meaning.token))
                unknown(token, *meaning.token);
            if (meaning.kind == Meaning::Kind::sigil && row != nullptr && row->kind == Kind::fetch_sigil && runs &&
                !dynamic_ && !stored_.contains(token.text.substr(1))) {
                diagnose(token, Diagnostic::Slip::never_stored, Diagnostic::Severity::warning,
                         never_stored(token.text.substr(1)));
            }
            if (row == nullptr || (row->kind != Kind::opener && row->kind != Kind::opener_sigil)) continue;
            token.role = Role::opener;
            std::size_t end = at + 1;
            while (end < to && tokens[end].text != row->closer) ++end;
            if (row->construct == Construct::list || row->construct == Construct::definition) {
                // Left open, it collects the rest raw: none of it runs here.
                if (end < to) {
                    classify(tokens, at + 1, end, runs);
                } else {
                    for (std::size_t inner = at + 1; inner < end; ++inner)
                        tokens[inner].role = role_of(meaning_of(reading_, tokens[inner].text, true));
                }
            } else {
                for (std::size_t inner = at + 1; inner < end; ++inner)
                    tokens[inner].role = row->construct == Construct::text ? Role::text : Role::comment;
            }
            if (end < to) tokens[end].role = Role::closer;
            at = end;
        }
    }

    bool defines(const std::string& name) {
        if (defined_names_.empty()) {
            for (const Definition& definition : into_.definitions)
                if (definition.kind != Definition::Kind::variable) defined_names_.insert(definition.name);
        }
        return defined_names_.contains(name);
    }

    // The names a token defines or stores, wherever it is: a list, a
    // definition or a string made an alias may run it.
    void note_names(const Token& token, const Meaning& meaning) {
        if (token.text == "times") stored_.insert("i");
        if (meaning.kind != Meaning::Kind::sigil) return;
        const std::string name = token.text.substr(1);
        switch (token.text[0]) {
            case ':':
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

    // The lines of comment right above `line`, without their backslash, after
    // the last empty one: a file's header, set apart, is no word's. At most
    // the 50 lines nearest, and whole lines up to 4 KiB: every definition
    // on the line below takes a copy.
    std::string comment_above(int line) const {
        constexpr std::size_t most_lines = 50, most_bytes = 4096;
        auto first = comment_lines_.end();
        for (int expected = line - 1; first != comment_lines_.begin() && std::prev(first)->first == expected &&
                                      !std::prev(first)->second.empty() &&
                                      comment_lines_.end() - first < static_cast<std::ptrdiff_t>(most_lines);
             --expected)
            --first;
        std::string text;
        for (auto it = first; it != comment_lines_.end() && text.size() + it->second.size() < most_bytes; ++it)
            text += it->second + '\n';
        return text;
    }

    void include() {
        const std::string name = reading_.text;
        // As deep as a run may go: deeper, the run fails, and what the
        // files would define is unknown here. And as many files in all as a
        // document may sensibly hold: names like "./a.tv" spell one file
        // anew at each level, so that files each including it twice would
        // be read twice as often at each level down.
        if (name.empty() || depth_ == most_nested_files || visited_.size() > most_files_read) {
            lose_track(true);
            return;
        }
        // A file read before is not read again: read in the chain that
        // includes it, it recurses until a run fails; read before that, it
        // defines as it did, unless the dictionary has changed since.
        if (const auto read = read_files_.find(resolve_uri(uri_, name)); read != read_files_.end()) {
            if (read->second != reading_.runtime.generation) lose_track(true);
            return;
        }
        const std::optional<Included> file = load_included(load_, uri_, root_, name);
        if (!file) {
            lose_track(true);  // what it would define is unknown
            return;
        }
        visited_.insert(file->uri);
        if (const auto read = read_files_.find(file->uri); read != read_files_.end()) {
            if (read->second != reading_.runtime.generation) lose_track(true);
            return;
        }
        read_files_[file->uri] = 0;  // being read: the generation is never 0
        into_.included.push_back(file->uri);
        read(file->uri, file->text, into_.included_tokens[file->uri], depth_ + 1);
        read_files_[file->uri] = reading_.runtime.generation;
    }

    const Loader& load_;
    Analysis& into_;
    const std::string& root_;
    sandbox::NullBuffer nothing_;
    std::ostream nowhere_{&nothing_};
    std::istringstream no_input_;
    Context reading_;
    Effects effects_;
    Effects::Top top_;
    std::set<std::string> visited_;
    std::map<std::string, std::uint64_t> read_files_;  // each file read, and the dictionary's generation after it
    std::string uri_;
    std::size_t depth_ = 0;  // of files including one another above the one read
    std::optional<Open> open_;
    std::vector<Collected> collected_;
    std::optional<std::size_t> last_list_;
    std::vector<std::pair<int, std::string>> comment_lines_;  // line, text
    std::unordered_set<std::string> stored_;
    std::unordered_set<std::string> defined_names_;  // every word and alias, once the document is read
    std::vector<std::pair<Range, std::string>> unknowns_;  // places of words unknown there, and the words
    bool dynamic_ = false;
    bool anything_ = false;     // any word may differ from what the reading defined
    bool blind_ = false;        // what is open may differ too: no slip is sure
    bool text_unknown_ = false;  // the text register holds what input gave
    std::unordered_set<std::string> uncertain_;  // words that running something may have defined
    bool underflow_said_ = false;
};

}  // namespace

Analysis analyse(const std::string& uri, std::string_view text, const Loader& load) {
    Analysis analysis;
    auto reader = std::make_unique<Reader>(load, analysis, uri);
    reader->read_document(text);
    reader->finish();
    sort_by_place(analysis.diagnostics);
    return analysis;
}

std::string effect_notation(const Analysis& analysis, const std::string& name) {
    const auto found = analysis.effects.find(name);
    if (found == analysis.effects.end()) return notation(Effect::unknown());
    return notation(found->second.effect, found->second.names);
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

namespace {

// The sigil a token is read as by a fresh interpreter, if any.
char sigil_of(const std::string& token) {
    const Meaning meaning = meaning_of(fresh(), token, true);
    return meaning.kind == Meaning::Kind::sigil ? (*meaning.token)[0] : '\0';
}

}  // namespace

std::optional<Reference> reference_of(const Token& token) {
    if (token.role == Role::user_word || token.role == Role::builtin) return Reference{token.text, false};
    if (token.role != Role::sigil && token.role != Role::opener) return std::nullopt;
    const char sigil = sigil_of(token.text);
    if (sigil == '\0') return std::nullopt;
    const bool variable = sigil == '=' || sigil == '+' || sigil == '-' || sigil == '$';
    return Reference{token.text.substr(1), variable};
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
