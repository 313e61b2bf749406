#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "core/token_list.hpp"

namespace forth {

// What a control word asks the evaluator to run. The word takes what it
// needs (its lists, its count or flag) and says what to enter; the
// evaluator enters it, as a frame of the run in progress, or runs it to its
// end when the word was called from native code.
struct Entry {
    enum class Kind : std::uint8_t {
        nothing,
        list,    // `list`, once
        times,   // `list`, `passes` times, with i counting the passes
        repeat,  // `list` then `condition`, until the condition leaves `stop`
        text,    // `text`, token by token
    };
    Kind kind = Kind::nothing;
    TokenList list;
    TokenList condition;
    std::int32_t passes = 0;
    double stop = 0;
    std::string text;

    static Entry once(TokenList list) {
        Entry entry;
        entry.kind = Kind::list;
        entry.list = std::move(list);
        return entry;
    }
    static Entry times(TokenList body, std::int32_t passes) {
        Entry entry = once(std::move(body));
        entry.kind = Kind::times;
        entry.passes = passes;
        return entry;
    }
    static Entry repeat(TokenList body, TokenList condition, double stop) {
        Entry entry = once(std::move(body));
        entry.kind = Kind::repeat;
        entry.condition = std::move(condition);
        entry.stop = stop;
        return entry;
    }
    static Entry source(std::string text) {
        Entry entry;
        entry.kind = Kind::text;
        entry.text = std::move(text);
        return entry;
    }
};

}  // namespace forth
