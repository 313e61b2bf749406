#include <emscripten.h>

#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "core/interpreter.hpp"
#include "core/line_input.hpp"

namespace forth {
namespace {

EM_JS(void, write_to_page, (int stream, const char* data, std::size_t size), {
    Module.tolva_write(stream, HEAPU8.slice(data, data + size));
});

class PageBuffer : public std::streambuf {
public:
    explicit PageBuffer(int stream) : stream_(stream) { setp(buffer_, buffer_ + sizeof buffer_); }

protected:
    int_type overflow(int_type c) override {
        sync();
        if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    int sync() override {
        if (pptr() != pbase()) write_to_page(stream_, pbase(), static_cast<std::size_t>(pptr() - pbase()));
        setp(buffer_, buffer_ + sizeof buffer_);
        return 0;
    }

private:
    int stream_;
    char buffer_[4096];
};

struct Session {
    Context ctx;
    std::istringstream input;
    int input_used = 0;
    std::string error;
    int error_line = 0;
    std::string result;
};

PageBuffer out_buffer(1);
PageBuffer err_buffer(2);

}  // namespace
}  // namespace forth

using forth::Session;

extern "C" {

EMSCRIPTEN_KEEPALIVE Session* tolva_new_session() {
    auto* session = new Session;
    forth::load_builtins(session->ctx);
    return session;
}

EMSCRIPTEN_KEEPALIVE void tolva_delete_session(Session* session) { delete session; }

EMSCRIPTEN_KEEPALIVE int tolva_evaluate(Session* session, const char* code, const char* input, const char*) {
    std::cout.rdbuf(&forth::out_buffer);
    std::cerr.rdbuf(&forth::err_buffer);
    session->input.str(input);
    session->input.clear();
    session->input_used = 0;
    forth::set_line_source([session](std::string& line) {
        if (!std::getline(session->input, line)) return false;
        ++session->input_used;
        return true;
    });
    std::istringstream lines(code);
    std::string line;
    int number = 0;
    bool ok = true;
    try {
        while (std::getline(lines, line)) {
            ++number;
            forth::evaluate(session->ctx, line);
        }
    } catch (const std::exception& error) {
        session->error = error.what();
        session->error_line = number;
        ok = false;
    }
    std::cout << std::flush;
    std::cerr << std::flush;
    return ok ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE const char* tolva_error(Session* session) { return session->error.c_str(); }
EMSCRIPTEN_KEEPALIVE int tolva_error_line(Session* session) { return session->error_line; }
EMSCRIPTEN_KEEPALIVE int tolva_input_used(Session* session) { return session->input_used; }
EMSCRIPTEN_KEEPALIVE int tolva_construct_open(Session* session) { return session->ctx.terminator.empty() ? 0 : 1; }

EMSCRIPTEN_KEEPALIVE const char* tolva_stack(Session* session) {
    std::ostringstream text;
    for (const double value : session->ctx.stack) text << value << ' ';
    session->result = text.str();
    return session->result.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* tolva_banner(Session* session) {
    std::ostringstream text;
    text << "Welcome to Tolva\nWords: " << session->ctx.words.size() << '\n';
    session->result = text.str();
    return session->result.c_str();
}
}
