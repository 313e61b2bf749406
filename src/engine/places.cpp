#include "engine/places.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include "engine/code.hpp"

namespace forth {

namespace {

// The list and the token that `frame` runs. A frame running by
// instructions stands after the one it runs (or, at its start, on it); one
// running token by token, or at the end of a list it ran so (codes of no
// list), at the token before `pc`.
std::pair<const ListNode*, std::uint32_t> running_list_token(const Frame& frame) {
    if (frame.code->node == nullptr) return {frame.node, frame.pc == 0 ? 0 : frame.pc - 1};
    const Code& code = *frame.code;
    const auto [node, token] = position(code, frame.ip > code.first() ? frame.ip - 1 : frame.ip);
    return {code.condition != nullptr ? node : frame.node, token};
}

bool same_place(const Place& one, const Place& other) {
    return one.source == other.source && one.line == other.line && one.column == other.column &&
           one.token == other.token;
}

// The place of the token `frame` runs; false for a frame that runs none.
bool running_place(const Evaluator& state, Frame& frame, Place& place) {
    if (frame.kind == Run::text) {
        TextState& text = *frame.text;
        place = place_of(state, text_origin(text, text.position - text.token.size()), text.token);
        return true;
    }
    const auto [node, index] = running_list_token(frame);
    if (node == nullptr || node->size() == 0) return false;
    const std::uint32_t token = std::min<std::uint32_t>(index, static_cast<std::uint32_t>(node->size() - 1));
    place = place_of(state, node->origin(token), node->token(token));
    return true;
}

}  // namespace

Origin text_origin(TextState& state, std::size_t at) {
    if (!state.placed) return state.start;
    if (at < state.counted) state.counted = state.lines = state.line_start = 0;
    for (; state.counted < at; ++state.counted) {
        if (state.text[state.counted] == '\n') {
            ++state.lines;
            state.line_start = state.counted + 1;
        }
    }
    const std::size_t column = at - state.line_start + (state.lines == 0 ? state.start.column : 0);
    return {state.start.source, static_cast<std::uint32_t>(state.start.line + state.lines),
            static_cast<std::uint32_t>(column)};
}

Place place_of(const Evaluator& state, Origin origin, std::string_view token) {
    Place place;
    if (origin.source != 0) {
        place.source = state.sources[origin.source - 1];
        place.line = origin.line;
        place.column = origin.column;
    }
    place.token.assign(token);
    return place;
}

Origin running_origin(Evaluator& state) {
    for (std::size_t index = state.frames.size(); index-- > 0;) {
        Frame& frame = state.frames[index];
        if (frame.kind == Run::text) {
            TextState& text = *frame.text;
            return text_origin(text, text.position - text.token.size());
        }
        if (frame.node == nullptr) continue;  // native code runs: the frame below called it
        const auto [node, token] = running_list_token(frame);
        return node->origin(token);
    }
    return {};
}

void note_opened(Evaluator& state) {
    for (std::size_t index = state.frames.size(); index-- > 0;) {
        if (running_place(state, state.frames[index], state.opened)) return;
    }
}

std::vector<Place> running_chain(Evaluator& state) {
    // Recursion may be a million calls deep: the same call again and again
    // is one place, and past the first few places only the outermost is
    // kept, after a place that counts the calls left out.
    constexpr std::size_t most_places = 24;
    std::vector<Place> chain;
    std::optional<Place> outermost;
    std::size_t left_out = 0;
    FrameStack& frames = state.frames;
    for (std::size_t index = frames.size(); index-- > 0;) {
        Frame& frame = frames[index];
        Place place;
        if (!running_place(state, frame, place)) continue;
        Place* const last = outermost ? &*outermost : chain.empty() ? nullptr : &chain.back();
        if (last != nullptr && same_place(*last, place)) {
            ++last->times;
        } else if (chain.size() < most_places) {
            chain.push_back(std::move(place));
        } else {
            if (outermost) left_out += outermost->times;
            outermost = std::move(place);
        }
    }
    if (outermost) {
        if (left_out != 0) chain.push_back({.left_out = left_out});
        chain.push_back(std::move(*outermost));
    }
    return chain;
}

std::vector<Place> recent_calls(Evaluator& state, std::size_t most) {
    std::vector<Place> chain;
    FrameStack& frames = state.frames;
    std::size_t below = frames.size();  // frames not walked: those below this
    std::size_t walked = 0, native_walked = 0;
    while (below > 0 && walked < most) {
        Frame& frame = frames[--below];
        if (frame.kind == Run::nothing) ++native_walked;
        Place place;
        if (!running_place(state, frame, place)) continue;
        ++walked;
        if (!chain.empty() && same_place(chain.back(), place)) {
            ++chain.back().times;
        } else {
            chain.push_back(std::move(place));
        }
    }
    // Every frame left stands for a call, but those of native code; the
    // outermost is the first from the bottom that runs a token.
    std::size_t left = below - (frames.native - native_walked);
    for (std::size_t index = 0; index < below && left > 0; ++index) {
        Place outermost;
        if (!running_place(state, frames[index], outermost)) continue;
        if (left > 1) chain.push_back({.left_out = left - 1});
        chain.push_back(std::move(outermost));
        break;
    }
    return chain;
}

Place running_token(Evaluator& state) {
    Place place;
    if (!state.frames.empty()) running_place(state, state.frames.back(), place);
    return place;
}

std::size_t call_depth(const Evaluator& state) {
    // A frame of native code runs no token.
    const FrameStack& frames = state.frames;
    return frames.size() - frames.native - (frames.size() > frames.native ? 1 : 0);
}

}  // namespace forth
