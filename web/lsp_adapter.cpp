// The language server (src/lsp) for the editor's worker (web/worker.js):
// one JSON-RPC message in, as text, and what the server sent in answer out,
// as a JSON array of messages. The text stays valid until the next call.
#include <emscripten.h>

#include <string>

#include "lsp/server.hpp"

using forth::lsp::Json;

extern "C" EMSCRIPTEN_KEEPALIVE const char* tolva_lsp_handle(const char* message) {
    static Json sent = Json::array();
    // Files the document includes are read from the module's own: the
    // examples are built in at the root, where a document at file:///NAME finds them.
    static forth::lsp::Server server([](const Json& reply) { sent.push_back(reply); }, forth::lsp::read_file);
    static std::string text;
    server.handle(Json::parse(message, nullptr, false));
    text = sent.dump(-1, ' ', false, Json::error_handler_t::replace);
    sent = Json::array();
    return text.c_str();
}
