#pragma once

#include <cassert>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/token_list.hpp"

namespace forth {

// The state of a times or repeat loop that a frame runs.
struct LoopState {
    std::int32_t index = 0;   // times: the next pass
    std::int32_t passes = 0;
    double* counter = nullptr;  // times: the variable i
    TokenList condition;        // repeat; the frame's own list is the body
    double stop = 0;
};

// Source text that a frame reads token by token.
struct TextState {
    std::shared_ptr<const std::string> owner;  // empty when the caller keeps the text alive
    std::string_view text;
    std::size_t position = 0;
    std::string token;  // the token being resolved
};

// One token list or text being run. Calls nest as frames on a stack of the
// Context's own, not as calls of the machine's stack, so the depth of
// recursion in the language is a count, whatever the build or stack size.
struct Frame {
    enum class Kind : std::uint8_t { list, times, repeat_body, repeat_condition, text };

    TokenList list;  // the list being run, or a repeat loop's body
    std::uint32_t pc = 0;
    // Calls made as the last step of a list run in their caller's frame,
    // which goes on counting them toward the depth until it ends.
    std::uint32_t tail_calls = 0;
    Kind kind = Kind::list;
    std::unique_ptr<LoopState> loop;
    std::unique_ptr<TextState> text;

    // Back to what a new frame is, for the next call to take over.
    void clear() {
        kind = Kind::list;
        loop.reset();
        text.reset();
        clear_list();
    }

    // The same for a frame of kind list, which has no loop or text.
    void clear_list() {
        assert(loop == nullptr && text == nullptr);
        list = TokenList();
        pc = 0;
        tail_calls = 0;
    }
};

// The frames of the calls running. The slots of frames that ended stay,
// cleared, so that a call takes one over without constructing a frame.
class FrameStack {
public:
    // A cleared frame on top.
    Frame& push() {
        if (size_ == slots_count_) [[unlikely]] grow();
        return slots_[size_++];
    }
    // Takes the top frame off; it must have been cleared.
    void pop() { --size_; }

    Frame& back() { return slots_[size_ - 1]; }
    Frame& operator[](std::size_t index) { return slots_[index]; }
    const Frame& back() const { return slots_[size_ - 1]; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // Frees the slots when there are many: runaway recursion must not leave
    // them allocated. Only while no frame is in use.
    void shrink() {
        constexpr std::size_t kept = 4096;
        if (size_ == 0 && slots_count_ > kept) {
            std::vector<Frame>().swap(slots_);
            slots_count_ = 0;
        }
    }

private:
    [[gnu::noinline]] void grow() {
        slots_.resize(slots_.empty() ? 64 : 2 * slots_.size());
        slots_count_ = slots_.size();
    }

    std::vector<Frame> slots_;
    std::size_t size_ = 0;
    std::size_t slots_count_ = 0;  // slots_.size(), without its division by the size of a frame
};

}  // namespace forth
