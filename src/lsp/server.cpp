#include "lsp/server.hpp"

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <istream>
#include <limits>
#include <mutex>
#include <new>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "core/token_list.hpp"
#include "engine/meaning.hpp"
#include "lsp/reference.hpp"
#include "lsp/text_changes.hpp"
#include "lsp/uri.hpp"
#include "words/vocabulary.hpp"

namespace forth::lsp {

namespace {

// JSON-RPC's and the protocol's error codes.
enum Code {
    parse_error = -32700,
    invalid_request = -32600,
    method_not_found = -32601,
    invalid_params = -32602,
    internal_error = -32603,
    server_not_initialized = -32002,
    request_failed = -32803,
    request_cancelled = -32800,
};

struct Failure {
    int code;
    std::string message;
};

Json error_reply(const Json& id, int code, const std::string& message) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

Json to_json(Position at) { return {{"line", at.line}, {"character", at.character}}; }
Json to_json(const Range& range) { return {{"start", to_json(range.start)}, {"end", to_json(range.end)}}; }
Json location(const std::string& uri, const Range& range) { return {{"uri", uri}, {"range", to_json(range)}}; }

// The fields of a message, each checked before use: a field missing or of
// another type is a Failure with invalid_params, which names it.
[[noreturn]] void invalid(const std::string& message) { throw Failure{invalid_params, message}; }

const Json& params_object(const Json& params) {
    if (!params.is_object()) invalid("params is not an object");
    return params;
}

const Json& member(const Json& object, const char* name, const std::string& where) {
    const auto found = object.find(name);
    if (found == object.end()) invalid(where + " has no " + name);
    return *found;
}

const Json& object_member(const Json& object, const char* name, const std::string& where) {
    const Json& value = member(object, name, where);
    if (!value.is_object()) invalid(where + "." + name + " is not an object");
    return value;
}

const std::string& string_member(const Json& object, const char* name, const std::string& where) {
    const Json& value = member(object, name, where);
    if (!value.is_string()) invalid(where + "." + name + " is not a string");
    return value.get_ref<const std::string&>();
}

// A line or a character: a whole number the editor's int holds.
int count_member(const Json& object, const char* name, const std::string& where) {
    const Json& value = member(object, name, where);
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT_MAX))
        invalid(where + "." + name + " is not a whole number from 0 to " + std::to_string(INT_MAX));
    return static_cast<int>(value.get<std::uint64_t>());
}

// The URI of the document a request or a notification is about.
const std::string& uri_of(const Json& params) {
    return string_member(object_member(params_object(params), "textDocument", "params"), "uri",
                         "params.textDocument");
}

Position position_of(const Json& params) {
    const Json& at = object_member(params_object(params), "position", "params");
    return {count_member(at, "line", "params.position"), count_member(at, "character", "params.position")};
}

// What didOpen and didChange say: the document, its version (null when
// none is given) and the changes of its text, of which didOpen's is one
// whole text.
struct Sync {
    const std::string* uri;
    const Json* version;
    std::vector<TextChange> changes;
    bool whole = false;  // some change gives the whole text
};

bool is_sync(const std::string& method) {
    return method == "textDocument/didOpen" || method == "textDocument/didChange";
}

Position position_member(const Json& object, const char* name, const std::string& where) {
    const Json& at = object_member(object, name, where);
    const std::string inner = where + "." + name;
    return {count_member(at, "line", inner), count_member(at, "character", inner)};
}

Sync sync_of(const std::string& method, const Json& params) {
    static const Json none;
    const Json& document = object_member(params_object(params), "textDocument", "params");
    Sync sync{&string_member(document, "uri", "params.textDocument"), &none, {}};
    if (const auto version = document.find("version"); version != document.end() && !version->is_null()) {
        if (!version->is_number_integer()) invalid("params.textDocument.version is not an integer");
        sync.version = &*version;
    }
    if (method == "textDocument/didOpen") {
        sync.changes.push_back({std::nullopt, string_member(document, "text", "params.textDocument")});
        sync.whole = true;
        return sync;
    }
    const Json& changes = member(params, "contentChanges", "params");
    if (!changes.is_array()) invalid("params.contentChanges is not an array");
    if (changes.empty()) invalid("params.contentChanges is empty");
    // Each change replaces a range, or the whole text when it has none
    // (rangeLength, which the protocol has given up, is not read).
    for (std::size_t index = 0; index < changes.size(); ++index) {
        const Json& change = changes[index];
        const std::string where = "params.contentChanges[" + std::to_string(index) + "]";
        if (!change.is_object()) invalid(where + " is not an object");
        TextChange& made = sync.changes.emplace_back(TextChange{std::nullopt, string_member(change, "text", where)});
        if (const auto range = change.find("range"); range != change.end() && !range->is_null()) {
            if (!range->is_object()) invalid(where + ".range is not an object");
            const std::string inner = where + ".range";
            made.range = Range{position_member(*range, "start", inner), position_member(*range, "end", inner)};
            const auto [start, end] = *made.range;
            if (end.line < start.line || (end.line == start.line && end.character < start.character))
                invalid(inner + " ends before it starts");
        } else {
            sync.whole = true;
        }
    }
    return sync;
}

// An id as JSON-RPC has them: a number, a string, or null.
bool is_id(const Json& id) { return id.is_number_integer() || id.is_string() || id.is_null(); }

// The names of a fresh interpreter's words and sigils, sorted.
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

// The colours of tokens, by their index in this legend.
const std::vector<std::string> token_types = {"function", "variable", "keyword", "number", "string", "comment",
                                              "operator"};

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

// No program is larger; /proc and the like may claim to be.
constexpr std::size_t most_read = std::size_t{16} << 20;

bool same(const Reference& one, const Reference& other) {
    return one.variable == other.variable && one.name == other.name;
}

}  // namespace

Server::Server(std::function<void(const Json&)> send, Loader load, const Budget& budget, Log log)
    : send_(std::move(send)), load_(std::move(load)), log_(std::move(log)), budget_(budget) {
    if (!log_) log_ = [](const std::string& line) { std::cerr << "tolva-lsp: " << line << std::endl; };
}

void Server::handle(const Json& message) {
    Json id;
    bool request = false;
    std::string method;
    try {
        handle_checked(message, id, request, method);
    } catch (const Failure& failure) {
        fail(request, id, method, failure.code, failure.message);
    } catch (const Json::exception& error) {
        fail(request, id, method, invalid_params, error.what());
    } catch (const std::bad_alloc&) {
        fail(request, id, method, internal_error, "out of memory");
    } catch (const std::exception& error) {
        fail(request, id, method, internal_error, error.what());
    } catch (...) {
        fail(request, id, method, internal_error, "an unknown failure");
    }
}

// A request is answered with the error; a notification gets no answer, so
// what was wrong with it is logged.
void Server::fail(bool request, const Json& id, const std::string& method, int code,
                  const std::string& message) noexcept {
    try {
        if (request) {
            send_(error_reply(id, code, message));
        } else {
            log_("ignored " + (method.empty() ? std::string("a message") : method) + ": " + message);
        }
    } catch (...) {
        // Out of memory even for that: the message is dropped.
    }
}

void Server::handle_checked(const Json& message, Json& id, bool& request, std::string& method) {
    if (!message.is_object()) {
        send_(error_reply(nullptr, invalid_request, "a message is a JSON object"));
        return;
    }
    const auto has_id = message.find("id");
    if (has_id != message.end() && is_id(*has_id)) id = *has_id;
    const auto has_method = message.find("method");
    if (has_method == message.end()) {
        // A reply from the client to a request of ours needs nothing back.
        if (message.contains("result") || message.contains("error")) return;
        send_(error_reply(id, invalid_request, "not a request or a notification: no method"));
        return;
    }
    if (!has_method->is_string()) {
        send_(error_reply(id, invalid_request, "the method is not a string"));
        return;
    }
    if (has_id != message.end() && !is_id(*has_id)) {
        send_(error_reply(nullptr, invalid_request, "an id is a number or a string"));
        return;
    }
    method = has_method->get<std::string>();
    request = has_id != message.end();
    if (method == "exit") {
        exited_ = true;
        return;
    }
    if (!initialized_ && method != "initialize") {
        if (request) send_(error_reply(id, server_not_initialized, "the server has not been initialized"));
        return;
    }
    if (shut_down_ && request) {
        send_(error_reply(id, invalid_request, "the server is shutting down"));
        return;
    }
    // No params is as good as none given; given, they are structured.
    static const Json no_params = Json::object();
    const Json* params = &no_params;
    if (const auto given = message.find("params"); given != message.end() && !given->is_null()) {
        if (!given->is_object() && !given->is_array()) invalid("params is neither an object nor an array");
        params = &*given;
    }
    Json result = dispatch(method, *params);
    if (request) send_({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

Json Server::dispatch(const std::string& method, const Json& params) {
    if (method == "initialize") {
        initialized_ = true;
        return {{"capabilities",
                 {{"textDocumentSync", {{"openClose", true}, {"change", 2}}},
                  {"hoverProvider", true},
                  {"completionProvider", {{"triggerCharacters", {"$", "=", "+", "-", "'", ":"}}}},
                  {"definitionProvider", true},
                  {"referencesProvider", true},
                  {"renameProvider", true},
                  {"documentSymbolProvider", true},
                  {"inlayHintProvider", true},
                  {"workspaceSymbolProvider", true},
                  {"semanticTokensProvider",
                   {{"legend", {{"tokenTypes", token_types}, {"tokenModifiers", {"defaultLibrary"}}}},
                    {"full", true}}}}},
                {"serverInfo", {{"name", "tolva-lsp"}}}};
    }
    if (method == "shutdown") {
        shut_down_ = true;
        return nullptr;
    }
    if (is_sync(method)) {
        update_text(method, params);
        return nullptr;
    }
    if (method == "textDocument/didClose") {
        const std::string uri = uri_of(params);
        unanalysed_.erase(uri);
        texts_.erase(uri);
        versions_.erase(uri);
        analyses_.erase(uri);
        effects_.erase(uri);
        if (const auto open = open_.find(canonical_uri(uri)); open != open_.end() && open->second == uri)
            open_.erase(open);
        send_({{"jsonrpc", "2.0"},
               {"method", "textDocument/publishDiagnostics"},
               {"params", {{"uri", uri}, {"diagnostics", Json::array()}}}});
        return nullptr;
    }
    if (method == "textDocument/hover") return hover(params);
    if (method == "textDocument/completion") return completion(params);
    if (method == "textDocument/definition") return definition(params);
    if (method == "textDocument/references") return references(params);
    if (method == "textDocument/rename") return rename(params);
    if (method == "textDocument/documentSymbol") return symbols(params);
    if (method == "workspace/symbol") return workspace_symbols(params);
    if (method == "textDocument/semanticTokens/full") return semantic_tokens(params);
    if (method == "textDocument/inlayHint") return inlay_hints(params);
    if (method == "initialized" || method.starts_with("$/") || method.starts_with("workspace/didChange"))
        return nullptr;
    throw Failure{method_not_found, "no such method: " + method};
}

bool Server::is_open(const std::string& uri) const { return open_.contains(canonical_uri(uri)); }

// Stores the text didOpen or didChange gives, and analyses and runs it
// unless a newer change of the document waits with no request before it,
// which would see nothing of this text: then only the newest is. Changes
// that cannot be applied leave the text as it was, analysed if it was not.
void Server::update_text(const std::string& method, const Json& params) {
    const Sync sync = sync_of(method, params);
    const std::string uri = *sync.uri;
    try {
        const auto stored = texts_.find(uri);
        if (!sync.whole && stored == texts_.end())
            invalid("params.textDocument.uri is not open: a change of a range needs the text it changes");
        std::string text = sync.whole ? std::string() : stored->second;
        apply_changes(text, sync.changes);
        texts_[uri] = std::move(text);
    } catch (...) {
        if (unanalysed_.erase(uri) != 0) notify(uri);
        throw;
    }
    versions_[uri] = *sync.version;
    open_[canonical_uri(uri)] = uri;
    if (change_follows_ && change_follows_(uri)) {
        unanalysed_.insert(uri);
        return;
    }
    unanalysed_.erase(uri);
    notify(uri);
}

void Server::notify(const std::string& uri) {
    // Open documents are read as the editor has them, others from disk;
    // a URI is the same file however the client and the server escape it.
    const Loader load = [this](const std::string& wanted) -> std::optional<std::string> {
        if (const auto open = open_.find(canonical_uri(wanted)); open != open_.end()) {
            if (const auto text = texts_.find(open->second); text != texts_.end()) return text->second;
        }
        return load_(wanted);
    };
    analyses_[uri] = analyse(uri, texts_[uri], load);
    effects_[uri] = word_effects(analyses_[uri]);
    check_depths(analyses_[uri], effects_[uri]);
    publish(uri);
    // What running it finds comes after: the editor need not wait for it.
    if (add_run(uri, load)) publish(uri);
}

// Adds what running the document found to its diagnostics; false when it
// found nothing, or was given up for a newer text of the document.
bool Server::add_run(const std::string& uri, const Loader& load) {
    Budget budget = budget_;
    if (superseded_) budget.cancelled = [this, &uri] { return superseded_(uri); };
    const RunResult run = run_document(uri, texts_[uri], load, budget);
    if (run.cancelled) return false;
    Analysis& analysis = analyses_[uri];
    const Range top{{0, 0}, {0, 0}};
    if (run.out_of_budget) {
        analysis.diagnostics.insert(
            analysis.diagnostics.begin(),
            {top, Diagnostic::Severity::information,
             "the run was stopped by " + run.stopped_by + ": what it does later is not checked"});
        return true;
    }
    if (!run.error) return false;
    // A place in the document: the token of that text on that line nearest
    // to the column; for another file, the start of the line.
    const auto range_of = [&](const Place& place) -> std::pair<std::string, Range> {
        const int line = static_cast<int>(place.line) - 1;
        if (place.source != uri) return {place.source, {{line, 0}, {line, 0}}};
        const Token* best = nullptr;
        for (const Token& token : analysis.tokens) {
            if (token.range.start.line != line || token.text != place.token) continue;
            const auto distance = [&](const Token* one) {
                return std::abs(one->range.start.character - static_cast<int>(place.column));
            };
            if (best == nullptr || distance(&token) < distance(best)) best = &token;
        }
        return {uri, best != nullptr ? best->range : Range{{line, 0}, {line, 0}}};
    };
    Diagnostic diagnostic{top, Diagnostic::Severity::error, run.report};
    const auto [where, range] = range_of(*run.error);
    if (where == uri) {
        diagnostic.range = range;
    } else {
        diagnostic.related.push_back({where, range, "fails here"});
    }
    for (const Place& caller : run.error->callers) {
        if (caller.left_out != 0) continue;
        const auto [caller_uri, caller_range] = range_of(caller);
        if (diagnostic.range == top && caller_uri == uri) diagnostic.range = caller_range;
        diagnostic.related.push_back({caller_uri, caller_range, "called from here"});
    }
    // What the run says of a token replaces what reading it said.
    std::erase_if(analysis.diagnostics, [&](const Diagnostic& other) { return other.range == diagnostic.range; });
    analysis.diagnostics.push_back(std::move(diagnostic));
    sort_by_place(analysis.diagnostics);
    return true;
}

void Server::publish(const std::string& uri) {
    Json diagnostics = Json::array();
    for (const Diagnostic& diagnostic : analyses_[uri].diagnostics) {
        Json item{{"range", to_json(diagnostic.range)},
                  {"severity", static_cast<int>(diagnostic.severity)},
                  {"source", "tolva"},
                  {"message", diagnostic.message}};
        for (const Diagnostic::Related& related : diagnostic.related) {
            item["relatedInformation"].push_back(
                {{"location", location(related.uri, related.range)}, {"message", related.message}});
        }
        diagnostics.push_back(std::move(item));
    }
    Json params{{"uri", uri}, {"diagnostics", std::move(diagnostics)}};
    // The client drops diagnostics of a text it has changed since.
    if (!versions_[uri].is_null()) params["version"] = versions_[uri];
    send_({{"jsonrpc", "2.0"}, {"method", "textDocument/publishDiagnostics"}, {"params", std::move(params)}});
}

const Analysis* Server::analysis_of(const std::string& uri) {
    const auto found = analyses_.find(uri);
    return found == analyses_.end() ? nullptr : &found->second;
}

Json Server::hover(const Json& params) {
    const auto [uri, analysis, token, reference] = asked(params);
    if (token == nullptr || token->role == Role::comment || token->role == Role::text) return nullptr;
    std::string text;
    if (token->role == Role::number) {
        const LeadingNumber number = leading_number(token->text);
        std::ostringstream value;
        value << number.value;
        text = "The number " + value.str() + ".";
    } else if (token->role == Role::builtin || token->role == Role::opener || token->role == Role::closer) {
        const bool sigil = token->role == Role::opener && token->text.starts_with(':');
        text = "```tolva\n" + token->text + "\n```\n" + describe(sigil ? ":" : token->text, sigil);
    } else if (token->role == Role::user_word && reference) {
        for (const Definition& definition : analysis->definitions) {
            if (definition.kind == Definition::Kind::variable || definition.name != reference->name) continue;
            text += "```tolva\n:" + definition.name + ' ' + definition.body + " ;\n```\n`" +
                    effect_of_word(uri, definition.name) + "`\n\n" + definition.comment;
        }
    } else if (token->role == Role::sigil && reference) {
        text = describe(token->text.substr(0, 1), true);
        if (reference->variable) {
            std::string lines;
            for (const Definition& definition : analysis->definitions) {
                if (definition.kind == Definition::Kind::variable && definition.name == reference->name)
                    lines += (lines.empty() ? "" : ", ") + std::to_string(definition.range.start.line + 1);
            }
            text += "\n\nThe variable `" + reference->name + "` is stored " +
                    (lines.empty() ? std::string("nowhere in this file") : "at line " + lines) + '.';
        }
    } else if (token->role == Role::unknown) {
        text = "`" + token->text + "` is no word, sigil or number here.";
    }
    if (text.empty()) return nullptr;
    return {{"contents", {{"kind", "markdown"}, {"value", text}}}, {"range", to_json(token->range)}};
}

Json Server::completion(const Json& params) {
    const std::string& uri = uri_of(params);
    const Position at = position_of(params);
    const Analysis* analysis = analysis_of(uri);
    Json items = Json::array();
    if (analysis == nullptr) return items;
    // What is typed of the token so far: a variable sigil asks for variables.
    const Token* token = token_at(*analysis, at);
    const char first = token != nullptr ? token->text[0] : '\0';
    std::set<std::string> seen;
    if (first == '$' || first == '=' || first == '+' || first == '-') {
        for (const Definition& definition : analysis->definitions) {
            if (definition.kind != Definition::Kind::variable || !seen.insert(definition.name).second) continue;
            items.push_back({{"label", std::string(1, first) + definition.name}, {"kind", 6}});
        }
        return items;
    }
    const std::string prefix = first == '\'' ? "'" : "";
    for (const Definition& definition : analysis->definitions) {
        if (definition.kind == Definition::Kind::variable || !seen.insert(definition.name).second) continue;
        items.push_back({{"label", prefix + definition.name},
                         {"kind", 3},
                         {"detail", definition.kind == Definition::Kind::alias
                                        ? std::string("alias")
                                        : effect_of_word(uri, definition.name) + ' ' + definition.body}});
    }
    for (const std::string& name : builtin_words()) {
        if (!seen.insert(name).second) continue;
        items.push_back({{"label", prefix + name}, {"kind", 14}, {"detail", effect_of(describe(name, false))}});
    }
    return items;
}

Server::Asked Server::asked(const Json& params) {
    Asked asked;
    asked.uri = uri_of(params);
    const Position at = position_of(params);
    asked.analysis = analysis_of(asked.uri);
    if (asked.analysis != nullptr) asked.token = token_at(*asked.analysis, at);
    if (asked.token != nullptr) asked.reference = reference_of(*asked.token);
    return asked;
}

Json Server::definition(const Json& params) {
    const auto [uri, analysis, token, reference] = asked(params);
    Json found = Json::array();
    if (!reference) return found;
    for (const Definition& definition : analysis->definitions) {
        if ((definition.kind == Definition::Kind::variable) == reference->variable && definition.name == reference->name)
            found.push_back(location(definition.uri, definition.range));
    }
    return found;
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

Json Server::references(const Json& params) {
    const auto [uri, analysis, token, wanted] = asked(params);
    Json found = Json::array();
    if (!wanted) return found;
    for_each_use(*analysis, uri, *wanted,
                 [&](const std::string& file, const Token& use, const Reference&) {
                     found.push_back(location(file, use.range));
                 });
    return found;
}

Json Server::rename(const Json& params) {
    const auto [uri, analysis, token, wanted] = asked(params);
    const std::string& name = string_member(params, "newName", "params");
    if (!wanted || (!wanted->variable && token->role == Role::builtin))
        throw Failure{request_failed, "only a word or a variable of this file can be renamed"};
    if (name.empty() || std::any_of(name.begin(), name.end(), is_blank))
        throw Failure{request_failed, "a name is one token: no blanks, not empty"};
    // A word's new name must be read as no built-in, sigil or number.
    if (!wanted->variable && !is_plain_name(name))
        throw Failure{request_failed, "`" + name + "` would be read as a built-in word, a sigil or a number"};
    for (const Definition& definition : analysis->definitions) {
        if ((definition.kind == Definition::Kind::variable) == wanted->variable && definition.name == name)
            throw Failure{request_failed, "`" + name + "` is already defined"};
    }
    Json changes = Json::object();
    for_each_use(*analysis, uri, *wanted,
                 [&](const std::string& file, const Token& use, const Reference& reference) {
                     const bool sigil = use.text != reference.name;
                     changes[file].push_back({{"range", to_json(name_range(use, sigil))}, {"newText", name}});
                 });
    return {{"changes", std::move(changes)}};
}

namespace {

// The outline of one document: each word and alias, and each variable at
// its first store; as document symbols, or as workspace symbols with their
// places.
void outline(const Analysis& analysis, const std::string& uri, const std::string& query, bool workspace,
             std::set<std::pair<std::string, std::string>>& seen, Json& found) {
    const auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    for (const Definition& definition : analysis.definitions) {
        if (definition.uri != uri) continue;
        const bool variable = definition.kind == Definition::Kind::variable;
        if (variable && !seen.emplace(uri, "$" + definition.name).second) continue;
        if (workspace && lower(definition.name).find(lower(query)) == std::string::npos) continue;
        const int kind = variable ? 13 : definition.kind == Definition::Kind::alias ? 14 : 12;
        Json symbol{{"name", definition.name}, {"kind", kind}};
        if (workspace) {
            symbol["location"] = location(uri, definition.range);
        } else {
            symbol["range"] = symbol["selectionRange"] = to_json(definition.range);
        }
        found.push_back(std::move(symbol));
    }
}

}  // namespace

Json Server::symbols(const Json& params) {
    const std::string& uri = uri_of(params);
    const Analysis* analysis = analysis_of(uri);
    Json found = Json::array();
    std::set<std::pair<std::string, std::string>> seen;
    if (analysis != nullptr) outline(*analysis, uri, "", false, seen, found);
    return found;
}

// The symbols of every open document and the files it includes whose names
// hold the query, whatever their case.
Json Server::workspace_symbols(const Json& params) {
    std::string query;
    if (const auto given = params_object(params).find("query"); given != params.end()) {
        if (!given->is_string()) invalid("params.query is not a string");
        query = given->get<std::string>();
    }
    Json found = Json::array();
    std::set<std::pair<std::string, std::string>> seen;
    std::set<std::string> done;
    for (const auto& [uri, analysis] : analyses_) {
        for (const std::string& file : analysis.included) {
            if (!is_open(file) && done.insert(file).second) outline(analysis, file, query, true, seen, found);
        }
        if (done.insert(uri).second) outline(analysis, uri, query, true, seen, found);
    }
    return found;
}

std::string Server::effect_of_word(const std::string& uri, const std::string& name) {
    const auto& effects = effects_[uri];
    const auto found = effects.find(name);
    return notation(found != effects.end() ? found->second : Effect::unknown());
}

// A word's effect after the name of each :name definition.
Json Server::inlay_hints(const Json& params) {
    const std::string& uri = uri_of(params);
    const Analysis* analysis = analysis_of(uri);
    Json hints = Json::array();
    if (analysis == nullptr) return hints;
    for (const Definition& definition : analysis->definitions) {
        if (!definition.closed || definition.uri != uri) continue;
        const Token* opener = token_at(*analysis, definition.range.start);
        if (opener == nullptr) continue;
        hints.push_back({{"position", to_json(opener->range.end)},
                         {"label", effect_of_word(uri, definition.name)},
                         {"kind", 1},
                         {"paddingLeft", true}});
    }
    return hints;
}

// Each token as five numbers: its line and start, each from the last
// token's, its length, its colour and its modifiers.
Json Server::semantic_tokens(const Json& params) {
    const Analysis* analysis = analysis_of(uri_of(params));
    Json data = Json::array();
    if (analysis == nullptr) return {{"data", data}};
    Position last;
    for (const Token& token : analysis->tokens) {
        const auto [type, modifiers] = colour_of(token);
        if (type < 0) continue;
        const Position at = token.range.start;
        data.push_back(at.line - last.line);
        data.push_back(at.line == last.line ? at.character - last.character : at.character);
        data.push_back(token.range.end.character - at.character);
        data.push_back(type);
        data.push_back(modifiers);
        last = at;
    }
    return {{"data", std::move(data)}};
}

std::optional<std::string> read_file(const std::string& uri) {
    // Regular files only: a device, a pipe or the server's own input
    // would hang it or take its messages.
    const std::optional<std::string> path = path_of_uri(uri);
    std::error_code error;
    if (!path || !std::filesystem::is_regular_file(*path, error)) return std::nullopt;
    std::ifstream file(*path, std::ios::binary);
    std::string text;
    char chunk[1 << 16];
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(file.gcount()));
        if (text.size() > most_read) return std::nullopt;
    }
    if (file.bad()) return std::nullopt;
    return text;
}

namespace {

// A message's body may be this long; a longer one is refused and skipped.
constexpr std::size_t most_message = std::size_t{64} << 20;
// Bodies are read, and skipped, this much at a time: a Content-Length is
// never trusted for an allocation.
constexpr std::size_t piece = std::size_t{64} << 10;
// A header line may be this long; the rest of a longer one is skipped.
constexpr std::size_t most_header_line = std::size_t{8} << 10;
// Arrays and objects may nest this deep in a message; a deeper one is a
// parse error, as copying or freeing it would recurse that deep.
constexpr std::size_t most_nesting = 512;
// Messages waiting to be handled hold at most this much (or one message):
// past it the reader waits for the server to catch up.
constexpr std::size_t most_waiting = std::size_t{128} << 20;

// Whether JSON text nests arrays and objects deeper than `most`, counting
// brackets outside strings; cheap, and before anything is parsed.
bool nests_deeper(std::string_view text, std::size_t most) {
    std::size_t depth = 0;
    bool in_string = false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (in_string) {
            if (c == '\\') {
                ++at;
            } else if (c == '"') {
                in_string = false;
            }
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > most) return true;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

// A message read and waiting to be handled, a reply the reader made (to a
// message it could not read) waiting to be sent, or a line it would log:
// the handling thread alone writes, to the client and to the log, which may
// be tied to the client's stream.
struct Item {
    bool reply = false;
    std::string note;  // to log, when not empty
    Json json;
    std::size_t bytes = 0;  // of the message's body
    bool request = false;
    bool cancelled = false;  // a request whose $/cancelRequest came while it waited
    std::string sync;        // the document of a didOpen or didChange
    bool whole = false;      // and whether it gives the whole text
    std::string closes;      // the document of a didClose
};

// The messages between the thread that reads them and the one that
// handles them.
class Inbox {
public:
    // Queues `item`. One that gives a whole text first drops the changes of
    // its document that it makes of no use: those queued after the last
    // request, or didClose of the document, since nothing between would see
    // them. Changes of ranges are all kept, each changing the one before.
    void push(Item item) {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return stopping_ || items_.empty() || waiting_ <= most_waiting; });
        if (stopping_) return;
        if (item.whole) {
            for (auto it = items_.end(); it != items_.begin();) {
                --it;
                if (it->reply || !it->note.empty()) continue;
                if (it->request || it->closes == item.sync) break;
                if (it->sync == item.sync) {
                    waiting_ -= it->bytes;
                    it = items_.erase(it);
                }
            }
        }
        if (!item.sync.empty()) syncs_.fetch_add(1, std::memory_order_release);
        waiting_ += item.bytes;
        items_.push_back(std::move(item));
        ready_.notify_one();
    }

    // The input ended: cleanly between messages, or not.
    void finish(bool clean) {
        std::lock_guard lock(mutex_);
        ended_ = true;
        clean_ = clean;
        ready_.notify_one();
    }

    // The next item, waiting for it; none once the input ended and every
    // item was taken.
    std::optional<Item> pop() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return !items_.empty() || ended_; });
        if (items_.empty()) return std::nullopt;
        Item item = std::move(items_.front());
        items_.pop_front();
        waiting_ -= item.bytes;
        if (!item.sync.empty()) syncs_.fetch_add(1, std::memory_order_release);
        room_.notify_one();
        return item;
    }

    bool ended_cleanly() {
        std::lock_guard lock(mutex_);
        return clean_;
    }

    // Marks the request `id` cancelled if it still waits; true if it did.
    bool cancel(const Json& id) {
        std::lock_guard lock(mutex_);
        for (Item& item : items_) {
            if (!item.request || item.cancelled || item.json.value("id", Json()) != id) continue;
            item.cancelled = true;
            item.json = Json{{"id", id}};
            waiting_ -= item.bytes;
            item.bytes = 0;
            room_.notify_one();
            return true;
        }
        return false;
    }

    // Whether a change of `uri` waits with no request before it: what a
    // change just made is then seen by nothing, and need not be analysed.
    bool change_follows(const std::string& uri) {
        std::lock_guard lock(mutex_);
        for (const Item& item : items_) {
            if (item.request && !item.cancelled) return false;
            if (item.sync == uri) return true;
        }
        return false;
    }

    // Whether a newer text of `uri` waits. Asked as a run goes: the queue is
    // looked at only when a text came or went since last asked.
    bool text_waits(const std::string& uri) {
        const std::uint64_t syncs = syncs_.load(std::memory_order_acquire);
        if (syncs == asked_syncs_ && uri == asked_uri_) return asked_answer_;
        std::lock_guard lock(mutex_);
        asked_syncs_ = syncs;
        asked_uri_ = uri;
        asked_answer_ = std::any_of(items_.begin(), items_.end(), [&](const Item& item) { return item.sync == uri; });
        return asked_answer_;
    }

    void stop() {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        room_.notify_all();
    }

    bool stopping() {
        std::lock_guard lock(mutex_);
        return stopping_;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::deque<Item> items_;
    std::size_t waiting_ = 0;
    bool ended_ = false, clean_ = false, stopping_ = false;
    std::atomic<std::uint64_t> syncs_{0};  // texts queued and taken, counted
    // The last answer of text_waits, kept by the handling thread alone.
    std::uint64_t asked_syncs_ = ~std::uint64_t{0};
    std::string asked_uri_;
    bool asked_answer_ = false;
};

enum class HeaderLine { read, too_long, end };

// One line of a header, without its line break; a line longer than
// most_header_line is skipped to its end.
HeaderLine read_header_line(std::istream& in, std::string& line) {
    line.clear();
    for (;;) {
        const int c = in.get();
        if (c == std::char_traits<char>::eof()) return HeaderLine::end;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return HeaderLine::read;
        }
        if (line.size() == most_header_line) {
            in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
            return in ? HeaderLine::too_long : HeaderLine::end;
        }
        line += static_cast<char>(c);
    }
}

// The length a Content-Length line gives: digits, blanks around them; none
// for anything else, or a number past 64 bits.
std::optional<std::uint64_t> content_length(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (value.empty()) return std::nullopt;
    std::uint64_t length = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (length > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        length = length * 10 + digit;
    }
    return length;
}

// Reads and drops `count` bytes, a piece at a time; false at the end of the input.
bool skip(std::istream& in, std::uint64_t count) {
    std::vector<char> dropped(piece);
    while (count > 0) {
        const auto step = static_cast<std::streamsize>(std::min<std::uint64_t>(count, piece));
        in.read(dropped.data(), step);
        if (in.gcount() < step) return false;
        count -= static_cast<std::uint64_t>(step);
    }
    return true;
}

Item reply_item(int code, const std::string& message) {
    Item item;
    item.reply = true;
    item.json = error_reply(nullptr, code, message);
    return item;
}

Item note_item(const std::string& line) {
    Item item;
    item.note = line;
    return item;
}

// What the handling thread needs to know of a message before handling it.
void classify(Item& item) {
    if (!item.json.is_object()) return;
    const auto method = item.json.find("method");
    if (method == item.json.end() || !method->is_string()) return;
    const std::string& name = method->get_ref<const std::string&>();
    item.request = item.json.contains("id");
    if (item.request) return;
    static const Json no_params = Json::object();
    const auto given = item.json.find("params");
    const Json& params = given != item.json.end() ? *given : no_params;
    try {
        if (is_sync(name)) {
            const Sync sync = sync_of(name, params);
            item.sync = *sync.uri;
            item.whole = sync.whole;
        }
        if (name == "textDocument/didClose") item.closes = uri_of(params);
    } catch (const Failure&) {
        // Not as the protocol says: the handling thread logs it.
    }
}

// Queues `item`; one that cannot be queued for want of memory is dropped,
// and the reading goes on.
void offer(Inbox& inbox, Item&& item) noexcept {
    try {
        inbox.push(std::move(item));
    } catch (...) {
    }
}

// Reads framed messages from `in` until its end, or until the inbox stops.
void read_messages(std::istream& in, Inbox& inbox) {
    std::string line;
    while (!inbox.stopping()) {
        // The header: lines up to an empty one, of which Content-Length counts.
        std::optional<std::uint64_t> length;
        bool any = false, bad_length = false;
        for (;;) {
            const HeaderLine got = read_header_line(in, line);
            if (got == HeaderLine::end) {
                inbox.finish(!any);  // the client went away, between messages or not
                return;
            }
            any = true;
            if (got == HeaderLine::too_long) {
                offer(inbox, note_item("skipped a header line longer than " + std::to_string(most_header_line) +
                                     " bytes"));
                continue;
            }
            if (line.empty()) break;
            static constexpr std::string_view field = "content-length:";
            if (line.size() < field.size()) continue;
            std::string lower = line.substr(0, field.size());
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (lower != field) continue;
            length = content_length(std::string_view(line).substr(field.size()));
            bad_length = !length;
        }
        if (!length || bad_length) {
            offer(inbox, reply_item(parse_error, "a message needs a Content-Length header of a whole number of bytes"));
            continue;
        }
        if (*length > most_message) {
            offer(inbox, reply_item(invalid_request, "a message may hold at most " +
                                                         std::to_string(most_message >> 20) + " MiB: this one's " +
                                                         std::to_string(*length) + " bytes are skipped"));
            if (!skip(in, *length)) {
                inbox.finish(false);
                return;
            }
            continue;
        }
        // The body, read a piece at a time: a length with no bytes behind it
        // allocates no more than the bytes that came.
        std::string body;
        std::size_t read = 0;
        try {
            while (read < *length) {
                const std::size_t want = std::min<std::size_t>(piece, *length - read);
                body.resize(read + want);
                in.read(body.data() + read, static_cast<std::streamsize>(want));
                read += static_cast<std::size_t>(in.gcount());
                if (static_cast<std::size_t>(in.gcount()) < want) {
                    inbox.finish(false);
                    return;
                }
            }
        } catch (const std::bad_alloc&) {
            body = std::string();
            offer(inbox, reply_item(internal_error, "out of memory: the message is dropped"));
            if (!skip(in, *length - read)) {
                inbox.finish(false);
                return;
            }
            continue;
        }
        if (nests_deeper(body, most_nesting)) {
            offer(inbox, reply_item(parse_error, "the message nests arrays and objects deeper than " +
                                                   std::to_string(most_nesting)));
            continue;
        }
        Item item;
        try {
            item.json = Json::parse(body, nullptr, false);
        } catch (const std::bad_alloc&) {
            body = std::string();
            offer(inbox, reply_item(internal_error, "out of memory: the message is dropped"));
            continue;
        }
        body = std::string();
        if (item.json.is_discarded()) {
            offer(inbox, reply_item(parse_error, "the message is not JSON"));
            continue;
        }
        item.bytes = *length;
        try {
            classify(item);
        } catch (const std::bad_alloc&) {
            continue;  // dropped: not even its document's URI could be kept
        }
        // A cancellation is for the request while it waits: answered then
        // as cancelled. One that came too late, or for no request, is moot.
        if (item.json.is_object() && item.json.value("method", Json()) == "$/cancelRequest" && !item.request) {
            const Json& params = item.json.contains("params") ? item.json["params"] : Json::object();
            if (params.is_object() && params.contains("id") && is_id(params["id"]) && !params["id"].is_null()) {
                inbox.cancel(params["id"]);
            } else {
                offer(inbox, note_item("ignored $/cancelRequest: params.id is not a number or a string"));
            }
            continue;
        }
        offer(inbox, std::move(item));
    }
}

}  // namespace

int serve(std::istream& in, std::ostream& out, const Budget& budget, std::ostream* log_stream, bool wait_for_reader) {
    // The reading thread reads `in` alone: nothing flushes `out` for it.
    in.tie(nullptr);
    // Shared with the reading thread, which may outlive this call, and
    // which writes nothing.
    const auto inbox = std::make_shared<Inbox>();
    // Written on this thread alone, like `out`, to which it may be tied.
    const Server::Log log = [log_stream](const std::string& line) {
        if (log_stream != nullptr) *log_stream << "tolva-lsp: " << line << std::endl;
    };
    std::thread reader([inbox, &in] {
        try {
            read_messages(in, *inbox);
        } catch (...) {
            inbox->finish(false);
        }
    });
    // One writer: this thread. A reply that cannot be made (out of memory)
    // is dropped, and the server goes on.
    const auto send = [&out](const Json& message) {
        const std::string body = message.dump(-1, ' ', false, Json::error_handler_t::replace);
        out << "Content-Length: " << body.size() << "\r\n\r\n" << body << std::flush;
    };
    Server server(send, read_file, budget, log);
    server.set_superseded([inbox](const std::string& uri) { return inbox->text_waits(uri); });
    server.set_change_follows([inbox](const std::string& uri) { return inbox->change_follows(uri); });
    int status = 1;
    for (;;) {
        std::optional<Item> item = inbox->pop();
        if (!item) {
            status = inbox->ended_cleanly() ? server.exit_status() : 1;  // the client went away
            break;
        }
        try {
            if (!item->note.empty()) {
                log(item->note);
            } else if (item->reply) {
                send(item->json);
            } else if (item->cancelled) {
                send(error_reply(item->json["id"], request_cancelled, "the request was cancelled"));
            } else {
                server.handle(item->json);
            }
        } catch (...) {
            // Out of memory even for the answer: the message is dropped.
        }
        if (server.exited()) {
            status = server.exit_status();
            break;
        }
    }
    inbox->stop();
    if (wait_for_reader) {
        reader.join();
    } else {
        reader.detach();
    }
    return status;
}

}  // namespace forth::lsp
