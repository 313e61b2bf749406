#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "core/token_list.hpp"

namespace forth {

// How a list or a text runs: what a control word asks for, what a list's
// compiled code is made to end as, and what a frame of the evaluator runs.
enum class Run : std::uint8_t {
    nothing,    // no list; a frame of native code that ran the evaluator
    once,       // a list run once: a call
    times,      // a list run again and again, its passes counted in i
    body,       // a repeat loop, in its body
    condition,  // a repeat loop, in its condition
    tail,       // a frame of a list run once, that calls as its last acts took over
    text,       // source text, token by token
};

// What a control word asks the evaluator to run. The word takes what it
// needs (its lists, its count or flag) and says what to enter; the
// evaluator enters it, as a frame of the run in progress, or runs it to its
// end when the word was called from native code.
struct Entry {
    Run run = Run::nothing;
    TokenList list;       // once, times, body: the list
    TokenList condition;  // body: the repeat loop's condition
    std::int32_t passes = 0;
    double stop = 0;
    std::string text;

    static Entry once(TokenList list) {
        Entry entry;
        entry.run = Run::once;
        entry.list = std::move(list);
        return entry;
    }
    static Entry times(TokenList body, std::int32_t passes) {
        Entry entry = once(std::move(body));
        entry.run = Run::times;
        entry.passes = passes;
        return entry;
    }
    static Entry repeat(TokenList body, TokenList condition, double stop) {
        Entry entry = once(std::move(body));
        entry.run = Run::body;
        entry.condition = std::move(condition);
        entry.stop = stop;
        return entry;
    }
    static Entry source(std::string text) {
        Entry entry;
        entry.run = Run::text;
        entry.text = std::move(text);
        return entry;
    }
};

}  // namespace forth
