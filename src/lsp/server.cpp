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
#include "lsp/features.hpp"
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

// A diagnostic's code: what kind of slip it is, in a word or two.
const char* code_of(Diagnostic::Slip slip) {
    switch (slip) {
        case Diagnostic::Slip::unknown_word:
            return "unknown-word";
        case Diagnostic::Slip::not_defined_yet:
            return "not-defined-yet";
        case Diagnostic::Slip::number_out_of_range:
            return "number-out-of-range";
        case Diagnostic::Slip::never_stored:
            return "never-stored";
        case Diagnostic::Slip::empty_name:
            return "empty-name";
        case Diagnostic::Slip::definition_in_definition:
            return "definition-in-definition";
        case Diagnostic::Slip::lone_closer:
            return "lone-closer";
        case Diagnostic::Slip::nested_opener:
            return "nested-opener";
        case Diagnostic::Slip::never_closed:
            return "never-closed";
        case Diagnostic::Slip::underflow:
            return "underflow";
        case Diagnostic::Slip::none:
            break;
    }
    return nullptr;
}

Json to_json(const Diagnostic& diagnostic) {
    Json item{{"range", to_json(diagnostic.range)},
              {"severity", static_cast<int>(diagnostic.severity)},
              {"source", "tolva"},
              {"message", diagnostic.message}};
    if (const char* code = code_of(diagnostic.slip)) item["code"] = code;
    for (const Diagnostic::Related& related : diagnostic.related) {
        item["relatedInformation"].push_back(
            {{"location", location(related.uri, related.range)}, {"message", related.message}});
    }
    return item;
}

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

Position position_at(const Json& object, const char* name, const std::string& where) {
    const Json& at = object_member(object, name, where);
    const std::string inner = where + "." + name;
    return {count_member(at, "line", inner), count_member(at, "character", inner)};
}

Position position_of(const Json& params) { return position_at(params_object(params), "position", "params"); }

Range range_member(const Json& object, const char* name, const std::string& where) {
    const Json& range = object_member(object, name, where);
    const std::string inner = where + "." + name;
    return {position_at(range, "start", inner), position_at(range, "end", inner)};
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

// No program is larger; /proc and the like may claim to be.
constexpr std::size_t most_read = std::size_t{16} << 20;


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
        set_options(params);
        return {{"capabilities",
                 {{"textDocumentSync", {{"openClose", true}, {"change", 2}}},
                  {"hoverProvider", true},
                  {"completionProvider", {{"triggerCharacters", {"$", "=", "+", "-", "'", ":"}}}},
                  {"definitionProvider", true},
                  {"referencesProvider", true},
                  {"renameProvider", {{"prepareProvider", true}}},
                  {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
                  {"documentHighlightProvider", true},
                  {"foldingRangeProvider", true},
                  {"callHierarchyProvider", true},
                  {"documentSymbolProvider", true},
                  {"inlayHintProvider", true},
                  {"workspaceSymbolProvider", true},
                  {"semanticTokensProvider",
                   {{"legend", {{"tokenTypes", token_types()}, {"tokenModifiers", {"defaultLibrary"}}}},
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
    if (method == "textDocument/codeAction") return code_actions(params);
    if (method == "textDocument/documentHighlight") return highlights(params);
    if (method == "textDocument/foldingRange") return folding_ranges(params);
    if (method == "textDocument/prepareRename") return prepare_rename(params);
    if (method == "textDocument/prepareCallHierarchy") return call_items(params);
    if (method == "callHierarchy/incomingCalls") return calls(params, true);
    if (method == "callHierarchy/outgoingCalls") return calls(params, false);
    if (method == "initialized" || method.starts_with("$/") || method.starts_with("workspace/didChange"))
        return nullptr;
    throw Failure{method_not_found, "no such method: " + method};
}

// What the client asks at initialize: `timeBudget`, the milliseconds of
// processor time each run may take, for a machine slower than the default
// is made for. An option out of range is logged and ignored, not refused:
// an editor that sent it would otherwise get no server at all.
void Server::set_options(const Json& params) {
    if (!params.is_object()) return;
    const auto options = params.find("initializationOptions");
    if (options == params.end() || !options->is_object()) return;
    const auto time = options->find("timeBudget");
    if (time == options->end()) return;
    constexpr long most_milliseconds = 60'000;
    if (!time->is_number_integer() || time->get<long>() < 1 || time->get<long>() > most_milliseconds) {
        log_("ignored initializationOptions.timeBudget: not a whole number of milliseconds from 1 to " +
             std::to_string(most_milliseconds));
        return;
    }
    budget_.time = std::chrono::milliseconds(time->get<long>());
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
    // What the run says of a token replaces what reading it said, which
    // stays as its explanation, and as the slip a fix is offered for; else
    // the run's error is explained as tolva explains it on a terminal.
    const bool read_there = std::erase_if(analysis.diagnostics, [&](const Diagnostic& other) {
        if (other.range != diagnostic.range) return false;
        diagnostic.message += "\n" + other.message;
        diagnostic.slip = other.slip;
        return true;
    }) != 0;
    if (!read_there && !run.explanation.empty()) diagnostic.message += "\n" + run.explanation;
    analysis.diagnostics.push_back(std::move(diagnostic));
    sort_by_place(analysis.diagnostics);
    return true;
}

void Server::publish(const std::string& uri) {
    // The first in the document, as many as anyone reads: a document of a
    // line of lone closers would send a warning for every token, twice.
    constexpr std::size_t most_published = 1000;
    Json diagnostics = Json::array();
    for (const Diagnostic& diagnostic : analyses_[uri].diagnostics) {
        if (diagnostics.size() == most_published) break;
        diagnostics.push_back(to_json(diagnostic));
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

namespace {

Json to_json(const std::vector<Location>& locations) {
    Json found = Json::array();
    for (const Location& place : locations) found.push_back(location(place.uri, place.range));
    return found;
}

}  // namespace

Json Server::hover(const Json& params) {
    const std::string& uri = uri_of(params);
    const Position at = position_of(params);
    const Analysis* analysis = analysis_of(uri);
    const std::optional<Hover> found = analysis != nullptr ? lsp::hover(*analysis, uri, at) : std::nullopt;
    if (!found) return nullptr;
    return {{"contents", {{"kind", "markdown"}, {"value", found->markdown}}}, {"range", to_json(found->range)}};
}

Json Server::completion(const Json& params) {
    const std::string& uri = uri_of(params);
    const Position at = position_of(params);
    const Analysis* analysis = analysis_of(uri);
    Json items = Json::array();
    if (analysis == nullptr) return items;
    for (const CompletionItem& item : lsp::completion(*analysis, at)) {
        Json made{{"label", item.label},
                  {"kind", static_cast<int>(item.kind)},
                  {"textEdit", {{"range", to_json(item.replaces)}, {"newText", item.label}}}};
        if (!item.detail.empty()) made["detail"] = item.detail;
        items.push_back(std::move(made));
    }
    return items;
}

Json Server::definition(const Json& params) {
    const Analysis* analysis = analysis_of(uri_of(params));
    const Position at = position_of(params);
    return to_json(analysis != nullptr ? definitions(*analysis, at) : std::vector<Location>{});
}

Json Server::references(const Json& params) {
    const std::string& uri = uri_of(params);
    const Position at = position_of(params);
    const Analysis* analysis = analysis_of(uri);
    return to_json(analysis != nullptr ? lsp::references(*analysis, uri, at) : std::vector<Location>{});
}

Json Server::rename(const Json& params) {
    const std::string& uri = uri_of(params);
    const Position at = position_of(params);
    const std::string& name = string_member(params, "newName", "params");
    const Analysis* analysis = analysis_of(uri);
    if (analysis == nullptr) throw Failure{request_failed, "only a word or a variable of this file can be renamed"};
    const Renamed renamed = lsp::rename(*analysis, uri, at, name);
    if (!renamed.refused.empty()) throw Failure{request_failed, renamed.refused};
    Json changes = Json::object();
    for (const auto& [file, edits] : renamed.changes) {
        for (const TextEdit& edit : edits) changes[file].push_back({{"range", to_json(edit.range)}, {"newText", edit.text}});
    }
    return {{"changes", std::move(changes)}};
}

Json Server::symbols(const Json& params) {
    const std::string& uri = uri_of(params);
    const Analysis* analysis = analysis_of(uri);
    Json found = Json::array();
    if (analysis == nullptr) return found;
    std::set<std::pair<std::string, std::string>> seen;
    for (const Symbol& symbol : outline(*analysis, uri, std::nullopt, seen)) {
        found.push_back({{"name", symbol.name},
                         {"kind", static_cast<int>(symbol.kind)},
                         {"range", to_json(symbol.range)},
                         {"selectionRange", to_json(symbol.range)}});
    }
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
    const auto add = [&](const Analysis& analysis, const std::string& file) {
        for (const Symbol& symbol : outline(analysis, file, query, seen)) {
            found.push_back(
                {{"name", symbol.name}, {"kind", static_cast<int>(symbol.kind)}, {"location", location(file, symbol.range)}});
        }
    };
    for (const auto& [uri, analysis] : analyses_) {
        for (const std::string& file : analysis.included) {
            if (!is_open(file) && done.insert(file).second) add(analysis, file);
        }
        if (done.insert(uri).second) add(analysis, uri);
    }
    return found;
}

Json Server::inlay_hints(const Json& params) {
    const std::string& uri = uri_of(params);
    const Analysis* analysis = analysis_of(uri);
    Json hints = Json::array();
    if (analysis == nullptr) return hints;
    for (const InlayHint& hint : lsp::inlay_hints(*analysis, uri))
        hints.push_back({{"position", to_json(hint.at)}, {"label", hint.label}, {"kind", 1}, {"paddingLeft", true}});
    return hints;
}

Json Server::semantic_tokens(const Json& params) {
    const Analysis* analysis = analysis_of(uri_of(params));
    return {{"data", analysis != nullptr ? lsp::semantic_tokens(*analysis) : std::vector<int>{}}};
}

// Quick fixes, from the server's own diagnostics; each names its
// diagnostic as the client sent it, when it did.
Json Server::code_actions(const Json& params) {
    const std::string& uri = uri_of(params);
    const Range range = range_member(params, "range", "params");
    const Json& context = object_member(params, "context", "params");
    const Json& theirs = member(context, "diagnostics", "params.context");
    if (!theirs.is_array()) invalid("params.context.diagnostics is not an array");
    Json actions = Json::array();
    if (const auto only = context.find("only"); only != context.end()) {
        if (!only->is_array()) invalid("params.context.only is not an array");
        const bool wanted = std::any_of(only->begin(), only->end(), [](const Json& kind) {
            return kind.is_string() && (kind == "" || kind == "quickfix");
        });
        if (!wanted) return actions;
    }
    const Analysis* analysis = analysis_of(uri);
    if (analysis == nullptr) return actions;
    for (const CodeAction& action : quick_fixes(*analysis, uri, range)) {
        const Diagnostic& fixed = analysis->diagnostics[action.diagnostic];
        Json diagnostic = to_json(fixed);
        for (const Json& sent : theirs) {
            if (sent.is_object() && sent.value("message", Json()) == fixed.message &&
                sent.value("range", Json()) == diagnostic["range"]) {
                diagnostic = sent;
                break;
            }
        }
        Json edits = Json::array();
        for (const TextEdit& edit : action.edits)
            edits.push_back({{"range", to_json(edit.range)}, {"newText", edit.text}});
        actions.push_back({{"title", action.title},
                           {"kind", "quickfix"},
                           {"diagnostics", Json::array({std::move(diagnostic)})},
                           {"isPreferred", action.preferred},
                           {"edit", {{"changes", {{uri, std::move(edits)}}}}}});
    }
    return actions;
}

Json Server::highlights(const Json& params) {
    const Analysis* analysis = analysis_of(uri_of(params));
    const Position at = position_of(params);
    Json found = Json::array();
    if (analysis == nullptr) return found;
    for (const Highlight& highlight : lsp::highlights(*analysis, at))
        found.push_back({{"range", to_json(highlight.range)}, {"kind", static_cast<int>(highlight.kind)}});
    return found;
}

Json Server::folding_ranges(const Json& params) {
    const Analysis* analysis = analysis_of(uri_of(params));
    Json found = Json::array();
    if (analysis == nullptr) return found;
    for (const Fold& fold : folds(*analysis)) {
        Json range{{"startLine", fold.start_line}, {"endLine", fold.end_line}};
        if (fold.comment) range["kind"] = "comment";
        found.push_back(std::move(range));
    }
    return found;
}

// The name a rename would change; null, which the editor shows as nothing
// to rename, where it would refuse.
Json Server::prepare_rename(const Json& params) {
    const Analysis* analysis = analysis_of(uri_of(params));
    const Position at = position_of(params);
    const std::optional<Range> range = analysis != nullptr ? rename_range(*analysis, at) : std::nullopt;
    if (!range) return nullptr;
    return to_json(*range);
}

namespace {

// A call hierarchy item, which holds the document whose analysis made it:
// a word of an included file is known from the document's.
Json to_json(const CallItem& item, const std::string& document) {
    return {{"name", item.name},
            {"detail", item.detail},
            {"kind", item.top_level ? 1 : 12},
            {"uri", item.uri},
            {"range", to_json(item.range)},
            {"selectionRange", to_json(item.selection)},
            {"data", {{"document", document}}}};
}

}  // namespace

Json Server::call_items(const Json& params) {
    const std::string& uri = uri_of(params);
    const Position at = position_of(params);
    const Analysis* analysis = analysis_of(uri);
    if (analysis == nullptr) return nullptr;
    const std::vector<CallItem> items = lsp::call_items(*analysis, uri, at);
    if (items.empty()) return nullptr;
    Json found = Json::array();
    for (const CallItem& item : items) found.push_back(to_json(item, uri));
    return found;
}

Json Server::calls(const Json& params, bool incoming) {
    const Json& given = object_member(params_object(params), "item", "params");
    CallItem item;
    item.name = string_member(given, "name", "params.item");
    item.uri = string_member(given, "uri", "params.item");
    item.range = range_member(given, "range", "params.item");
    const Json& kind = member(given, "kind", "params.item");
    if (!kind.is_number_integer()) invalid("params.item.kind is not an integer");
    item.top_level = kind == 1;
    std::string document = item.uri;
    if (const auto data = given.find("data"); data != given.end() && data->is_object()) {
        if (const auto named = data->find("document"); named != data->end() && named->is_string())
            document = named->get<std::string>();
    }
    Json found = Json::array();
    const Analysis* analysis = analysis_of(document);
    if (analysis == nullptr) return found;
    const std::vector<Call> calls =
        incoming ? incoming_calls(*analysis, document, item) : outgoing_calls(*analysis, document, item);
    for (const Call& call : calls) {
        Json ranges = Json::array();
        for (const Range& range : call.at) ranges.push_back(to_json(range));
        found.push_back(
            {{incoming ? "from" : "to", to_json(call.item, document)}, {"fromRanges", std::move(ranges)}});
    }
    return found;
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
