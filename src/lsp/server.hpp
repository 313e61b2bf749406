#pragma once

#include <functional>
#include <iosfwd>
#include <iostream>
#include <map>
#include <optional>
#include <set>
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
    // Says what the server ignored, and why: a line for a person to read.
    using Log = std::function<void(const std::string&)>;

    // `send` writes one message; `load` reads a file the editor has not
    // opened; `budget` bounds each run of a document; `log` (standard
    // error when none) hears of the notifications ignored.
    Server(std::function<void(const Json&)> send, Loader load, const Budget& budget = {}, Log log = {});

    // Handles one message, which may be anything the client sent: every
    // field is checked before use, a request that is not as the protocol
    // says is answered with an error, such a notification is logged and
    // ignored, and nothing is thrown.
    void handle(const Json& message);

    // Asked while a document runs: whether a newer text of the document
    // waits to be handled, which makes the run's outcome of no use.
    void set_superseded(std::function<bool(const std::string& uri)> superseded) {
        superseded_ = std::move(superseded);
    }

    // Asked once a change of a document is stored: whether a newer one
    // waits with no request before it, which leaves this text unanalysed.
    void set_change_follows(std::function<bool(const std::string& uri)> change_follows) {
        change_follows_ = std::move(change_follows);
    }

    bool exited() const { return exited_; }
    // The status the process ends with: 0 after shutdown then exit.
    int exit_status() const { return shut_down_ ? 0 : 1; }

private:
    void handle_checked(const Json& message, Json& id, bool& request, std::string& method);
    void fail(bool request, const Json& id, const std::string& method, int code, const std::string& message) noexcept;
    Json dispatch(const std::string& method, const Json& params);
    void set_options(const Json& params);
    void update_text(const std::string& method, const Json& params);
    void notify(const std::string& uri);
    bool add_run(const std::string& uri, const Loader& load);
    void publish(const std::string& uri);
    bool is_open(const std::string& uri) const;
    const Analysis* analysis_of(const std::string& uri);
    Json hover(const Json& params);
    Json completion(const Json& params);
    Json definition(const Json& params);
    Json references(const Json& params);
    Json rename(const Json& params);
    Json symbols(const Json& params);
    Json workspace_symbols(const Json& params);
    Json semantic_tokens(const Json& params);
    Json inlay_hints(const Json& params);
    Json code_actions(const Json& params);
    Json highlights(const Json& params);
    Json folding_ranges(const Json& params);
    Json prepare_rename(const Json& params);
    Json call_items(const Json& params);
    Json calls(const Json& params, bool incoming);

    std::function<void(const Json&)> send_;
    Loader load_;
    Log log_;
    std::function<bool(const std::string&)> superseded_;
    std::function<bool(const std::string&)> change_follows_;
    std::map<std::string, std::string> texts_;
    std::map<std::string, std::string> open_;  // each open document's URI, by its canonical_uri
    std::map<std::string, Json> versions_;  // of each open document, as the client numbers them
    std::set<std::string> unanalysed_;       // open documents whose text is newer than their analysis
    std::map<std::string, Analysis> analyses_;
    Budget budget_;
    bool initialized_ = false;
    bool shut_down_ = false;
    bool exited_ = false;
};

// The text of a file:// URI's regular file, as the server reads a file the
// editor has not opened; none for anything else, or a file too large.
std::optional<std::string> read_file(const std::string& uri);

// Serves the client on `in` and `out`, framed as the protocol says, until
// it says exit or closes the stream; returns the exit status. A thread of
// its own reads the messages as they come, so that a request cancelled
// while it waits is answered as such and a document changed again while it
// waits is analysed once, at its newest text; everything else is done, and
// written, on the calling thread, one message after another. `in` is
// untied from any output stream. The ignored notifications are logged on
// `log` (none: nowhere), also written on the calling thread alone. With `wait_for_reader` false, serve returns at
// exit without waiting for the reading thread, which may be blocked on
// `in` for good: the caller then ends the process.
int serve(std::istream& in, std::ostream& out, const Budget& budget = {}, std::ostream* log = &std::cerr,
          bool wait_for_reader = true);

}  // namespace forth::lsp
