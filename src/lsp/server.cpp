#include "lsp/server.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>
#include <set>
#include <sstream>
#include <utility>

#include "core/token_list.hpp"
#include "engine/meaning.hpp"
#include "lsp/reference.hpp"
#include "words/vocabulary.hpp"

namespace forth::lsp {

namespace {

// JSON-RPC's and the protocol's error codes.
enum Code {
    parse_error = -32700,
    invalid_request = -32600,
    method_not_found = -32601,
    invalid_params = -32602,
    server_not_initialized = -32002,
    request_failed = -32803,
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

Position position_of(const Json& params) {
    const Json& at = params.at("position");
    return {at.at("line").get<int>(), at.at("character").get<int>()};
}

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

Server::Server(std::function<void(const Json&)> send, Loader load, const Budget& budget)
    : send_(std::move(send)), load_(std::move(load)), budget_(budget) {}

void Server::handle(const Json& message) {
    if (!message.is_object() || !message.contains("method") || !message["method"].is_string()) {
        const Json id = message.is_object() && message.contains("id") ? message["id"] : Json();
        // A reply from the client to a request of ours needs nothing back.
        if (!(message.is_object() && (message.contains("result") || message.contains("error"))))
            send_(error_reply(id, invalid_request, "not a request or a notification"));
        return;
    }
    const std::string method = message["method"];
    const bool request = message.contains("id");
    const Json params = message.value("params", Json::object());
    const Json id = request ? message["id"] : Json();
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
    try {
        Json result = dispatch(method, params);
        if (request) send_({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
    } catch (const Failure& failure) {
        if (request) send_(error_reply(id, failure.code, failure.message));
    } catch (const Json::exception& error) {
        if (request) send_(error_reply(id, invalid_params, error.what()));
    }
}

Json Server::dispatch(const std::string& method, const Json& params) {
    if (method == "initialize") {
        initialized_ = true;
        return {{"capabilities",
                 {{"textDocumentSync", {{"openClose", true}, {"change", 1}}},
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
    if (method == "textDocument/didOpen" || method == "textDocument/didChange") {
        const Json& document = params.at("textDocument");
        const std::string uri = document.at("uri");
        versions_[uri] = document.value("version", Json());
        texts_[uri] = method == "textDocument/didOpen" ? document.at("text").get<std::string>()
                                                       : params.at("contentChanges").back().at("text").get<std::string>();
        notify(uri);
        return nullptr;
    }
    if (method == "textDocument/didClose") {
        const std::string uri = params.at("textDocument").at("uri");
        texts_.erase(uri);
        versions_.erase(uri);
        analyses_.erase(uri);
        effects_.erase(uri);
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

void Server::notify(const std::string& uri) {
    // Open documents are read as the editor has them, others from disk.
    const Loader load = [this](const std::string& wanted) -> std::optional<std::string> {
        if (const auto open = texts_.find(wanted); open != texts_.end()) return open->second;
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
// found nothing.
bool Server::add_run(const std::string& uri, const Loader& load) {
    const RunResult run = run_document(uri, texts_[uri], load, budget_);
    Analysis& analysis = analyses_[uri];
    const Range top{{0, 0}, {0, 0}};
    if (run.out_of_budget) {
        analysis.diagnostics.insert(analysis.diagnostics.begin(),
                                    {top, Diagnostic::Severity::information,
                                     "the run was stopped by its budget of " + std::to_string(budget_.time.count()) +
                                         " ms, stack and buffer: what it does later is not checked"});
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

const Analysis* Server::analysis_of(const Json& params) {
    const std::string uri = params.at("textDocument").at("uri");
    const auto found = analyses_.find(uri);
    return found == analyses_.end() ? nullptr : &found->second;
}

Json Server::hover(const Json& params) {
    const auto [analysis, token, reference] = asked(params);
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
                    effect_of_word(params.at("textDocument").at("uri"), definition.name) + "`\n\n" + definition.comment;
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
    const Analysis* analysis = analysis_of(params);
    Json items = Json::array();
    if (analysis == nullptr) return items;
    const Position at = position_of(params);
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
        const std::string uri = params.at("textDocument").at("uri");
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
    asked.analysis = analysis_of(params);
    if (asked.analysis != nullptr) asked.token = token_at(*asked.analysis, position_of(params));
    if (asked.token != nullptr) asked.reference = reference_of(*asked.token);
    return asked;
}

Json Server::definition(const Json& params) {
    const auto [analysis, token, reference] = asked(params);
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
    const auto [analysis, token, wanted] = asked(params);
    Json found = Json::array();
    if (!wanted) return found;
    for_each_use(*analysis, params.at("textDocument").at("uri"), *wanted,
                 [&](const std::string& file, const Token& use, const Reference&) {
                     found.push_back(location(file, use.range));
                 });
    return found;
}

Json Server::rename(const Json& params) {
    const auto [analysis, token, wanted] = asked(params);
    if (!wanted || (!wanted->variable && token->role == Role::builtin))
        throw Failure{request_failed, "only a word or a variable of this file can be renamed"};
    const std::string name = params.at("newName");
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
    for_each_use(*analysis, params.at("textDocument").at("uri"), *wanted,
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
    const Analysis* analysis = analysis_of(params);
    Json found = Json::array();
    std::set<std::pair<std::string, std::string>> seen;
    if (analysis != nullptr) outline(*analysis, params.at("textDocument").at("uri"), "", false, seen, found);
    return found;
}

// The symbols of every open document and the files it includes whose names
// hold the query, whatever their case.
Json Server::workspace_symbols(const Json& params) {
    const std::string query = params.value("query", "");
    Json found = Json::array();
    std::set<std::pair<std::string, std::string>> seen;
    std::set<std::string> done;
    for (const auto& [uri, analysis] : analyses_) {
        for (const std::string& file : analysis.included) {
            if (!texts_.contains(file) && done.insert(file).second) outline(analysis, file, query, true, seen, found);
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
    const Analysis* analysis = analysis_of(params);
    Json hints = Json::array();
    if (analysis == nullptr) return hints;
    const std::string uri = params.at("textDocument").at("uri");
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
    const Analysis* analysis = analysis_of(params);
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
    std::error_code error;
    if (!uri.starts_with("file://") || !std::filesystem::is_regular_file(uri.substr(7), error)) return std::nullopt;
    std::ifstream file(uri.substr(7), std::ios::binary);
    std::string text;
    char chunk[1 << 16];
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(file.gcount()));
        if (text.size() > most_read) return std::nullopt;
    }
    if (file.bad()) return std::nullopt;
    return text;
}

int serve(std::istream& in, std::ostream& out, const Budget& budget) {
    const auto send = [&out](const Json& message) {
        const std::string body = message.dump(-1, ' ', false, Json::error_handler_t::replace);
        out << "Content-Length: " << body.size() << "\r\n\r\n" << body << std::flush;
    };
    Server server(send, read_file, budget);
    while (!server.exited()) {
        // The header: lines up to an empty one, of which Content-Length counts.
        std::string line;
        long long length = -1;
        bool any = false;
        while (std::getline(in, line)) {
            any = true;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) break;
            static constexpr std::string_view field = "content-length:";
            std::string lower = line.substr(0, std::min(line.size(), field.size()));
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (lower == field) {
                try {
                    length = std::stoll(line.substr(field.size()));
                } catch (const std::exception&) {
                    length = -1;
                }
            }
        }
        if (!in) return any ? 1 : server.exit_status();  // the client went away
        if (length < 0 || length > (1LL << 30)) {
            send(error_reply(nullptr, parse_error, "a message needs a Content-Length header"));
            continue;
        }
        std::string body(static_cast<std::size_t>(length), '\0');
        if (!in.read(body.data(), length)) return 1;
        Json message = Json::parse(body, nullptr, false);
        if (message.is_discarded()) {
            send(error_reply(nullptr, parse_error, "the message is not JSON"));
            continue;
        }
        server.handle(message);
    }
    return server.exit_status();
}

}  // namespace forth::lsp
