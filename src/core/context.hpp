#pragma once

#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace forth {

struct Context;

using TokenList = std::vector<std::string>;
using Word = std::function<void(Context&)>;
using SigilHandler = std::function<void(Context&, const std::string&)>;

// The whole state of one interpreter. Words work on the members directly;
// the rules that give them meaning live with the words that change them.
struct Context {
    std::vector<double> stack;
    std::unordered_map<std::string, Word> words;
    std::unordered_map<std::string, std::string> aliases;
    std::unordered_map<char, SigilHandler> sigils;
    std::unordered_map<std::string, double> variables;
    std::string terminator;  // closing word of the open construct; empty when none is open
    TokenList buffer;        // tokens collected by the open (or last) construct
    TokenList quotation;     // the list closed last by ] or }, or set by the ' sigil
    TokenList loop_body;     // saved by while/until for repeat
    std::string text;        // the text register
    std::stringstream input; // what accept read, for parse-name, number and interpret
};

inline double pop(Context& ctx) {
    if (ctx.stack.empty()) throw std::out_of_range("stack underflow");
    const double top = ctx.stack.back();
    ctx.stack.pop_back();
    return top;
}

inline void push(Context& ctx, double value) { ctx.stack.push_back(value); }

}  // namespace forth
