#pragma once

#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "lsp/analysis.hpp"
#include "lsp/effects.hpp"
#include "lsp/run.hpp"

// The language server: JSON-RPC messages in, replies and notifications out.
namespace forth::lsp {

using Json = nlohmann::json;

class Server {
public:
    // `send` writes one message; `load` reads a file the editor has not
    // opened; `budget` bounds each run of a document.
    Server(std::function<void(const Json&)> send, Loader load, const Budget& budget = {});

    // Handles one message, which may be anything the client sent.
    void handle(const Json& message);

    bool exited() const { return exited_; }
    // The status the process ends with: 0 after shutdown then exit.
    int exit_status() const { return shut_down_ ? 0 : 1; }

private:
    Json dispatch(const std::string& method, const Json& params);
    void notify(const std::string& uri);
    bool add_run(const std::string& uri, const Loader& load);
    void publish(const std::string& uri);
    const Analysis* analysis_of(const Json& params);
    // What a request asks about: the document, the token at its position
    // and what that token names; each null (none) when absent.
    struct Asked {
        const Analysis* analysis = nullptr;
        const Token* token = nullptr;
        std::optional<Reference> reference;
    };
    Asked asked(const Json& params);

    Json hover(const Json& params);
    Json completion(const Json& params);
    Json definition(const Json& params);
    Json references(const Json& params);
    Json rename(const Json& params);
    Json symbols(const Json& params);
    Json workspace_symbols(const Json& params);
    Json semantic_tokens(const Json& params);
    Json inlay_hints(const Json& params);
    std::string effect_of_word(const std::string& uri, const std::string& name);

    std::function<void(const Json&)> send_;
    Loader load_;
    std::map<std::string, std::string> texts_;
    std::map<std::string, Json> versions_;  // of each open document, as the client numbers them
    std::map<std::string, Analysis> analyses_;
    std::map<std::string, std::map<std::string, Effect>> effects_;  // of each document's words
    Budget budget_;
    bool initialized_ = false;
    bool shut_down_ = false;
    bool exited_ = false;
};

// The text of a file:// URI's regular file, as the server reads a file the
// editor has not opened; none for anything else, or a file too large.
std::optional<std::string> read_file(const std::string& uri);

// Serves the client on `in` and `out`, framed as the protocol says, until
// it says exit or closes the stream; returns the exit status.
int serve(std::istream& in, std::ostream& out, const Budget& budget = {});

}  // namespace forth::lsp
