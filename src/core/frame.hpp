#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "core/token_list.hpp"

namespace forth {

struct Instr;
struct Code;

// Source text that a frame reads token by token.
struct TextState {
    std::shared_ptr<const std::string> owner;  // empty when the caller keeps the text alive
    std::string_view text;
    std::size_t position = 0;
    std::string token;  // the token being resolved
    // Where the text was read; set while places are tracked, and only
    // then read. Text that code made (interpret's) has no places of its
    // own: its tokens are placed where the code stood.
    Origin start;
    bool placed = false;
    // Lines counted so far, for the places of tokens: up to `counted`,
    // `lines` newlines, the last ending at `line_start`.
    std::size_t counted = 0;
    std::size_t lines = 0;
    std::size_t line_start = 0;
};

// One token list or text being run. Calls nest as frames on a stack of the
// Context's own, not as calls of the machine's stack, so the depth of
// recursion in the language is a count, whatever the build or stack size.
//
// A frame runs its list one of two ways. Compiled, `ip` is where it goes
// on in `code`, the list's instructions (engine/code.hpp). Token by token
// (while a construct collects, or in plain mode), `ip` points at an
// instruction that hands it to the driver and `pc` is the next token.
// Frames point at their lists and codes without owning them: the retired
// lists (core/retired.hpp) keep them alive while they run.
struct Frame {
    enum class Kind : std::uint8_t {
        barrier,           // where a run of the evaluator from native code began
        text,              // source text, token by token
        list,              // a list run once: a call
        tail,              // the same, that calls as its last act took over: it stands for more calls
        times,             // a times loop: its body again and again
        repeat_body,       // a repeat loop, in its body
        repeat_condition,  // and in its condition
    };

    struct Times {
        double* counter;     // the variable i
        std::int32_t index;  // of the next pass
        std::int32_t passes;
    };
    struct Repeat {
        ListNode* other;  // the condition while in the body, the body while in the condition
        double stop;
    };
    struct Tail {
        std::uint32_t calls;  // the calls that took it over
    };

    const Instr* ip;
    Code* code;      // what ip points into
    ListNode* node;  // the list being run; null for text and barriers
    union {
        Times times;
        Repeat repeat;
        Tail tail;
        TextState* text;
    };
    std::uint32_t pc;
    Kind kind;
};

// The frames of the calls running, bottom first, in one array that grows.
// The calls they stand for (a frame each but the barriers, and the calls
// that took over a frame) are never more than max_depth: the check is the
// one comparison of a push with `limit`.
class FrameStack {
public:
    FrameStack() {
        grow();
        limit_ = base_;  // the first push sets the limit
        all().push_back(this);
    }
    ~FrameStack() {
        std::erase(all(), this);
        std::free(base_ - 1);
    }

    // Every frame stack there is: what a sweep of the retired lists must
    // not delete is what their frames run.
    static std::vector<const FrameStack*>& all() {
        static std::vector<const FrameStack*> stacks;
        return stacks;
    }
    FrameStack(const FrameStack&) = delete;
    FrameStack& operator=(const FrameStack&) = delete;

    bool empty() const { return top_ + 1 == base_; }
    std::size_t size() const { return static_cast<std::size_t>(top_ + 1 - base_); }
    Frame& back() { return *top_; }
    const Frame& back() const { return *top_; }
    Frame& operator[](std::size_t index) { return base_[index]; }
    const Frame& operator[](std::size_t index) const { return base_[index]; }
    Frame* begin() { return base_; }
    Frame* end() { return top_ + 1; }

    // What the evaluator keeps in a register and writes back.
    Frame* top() const { return top_; }
    void set_top(Frame* top) { top_ = top; }
    // A push that reaches this must go through push_slow.
    Frame* limit() const { return limit_; }

    std::size_t barriers = 0;    // frames that do not count toward the depth
    std::size_t tail_calls = 0;  // calls that count without a frame of their own

    // A call takes over `frame`, the top one (whose pointer the evaluator
    // may hold in a register, ahead of `top`), of kind list or tail, where a
    // push would have found room. The limit moves down with it: it may fall
    // short of the exact one, never past it, and the next push that reaches
    // it sets it again (make_room).
    void take_over(Frame& frame) {
        if (frame.kind == Frame::Kind::tail) {
            ++frame.tail.calls;
        } else {
            frame.kind = Frame::Kind::tail;
            frame.tail.calls = 1;
        }
        ++tail_calls;
        --limit_;
    }

    // The calls that took over `frame` are gone with it. The limit is left
    // short, until the next push that reaches it sets it again.
    void release(const Frame& frame) { tail_calls -= frame.tail.calls; }

    // Takes the top frame off, with the calls it stood for.
    void pop(std::size_t most) {
        if (top_->kind == Frame::Kind::tail) {
            tail_calls -= top_->tail.calls;
            set_top(top_ - 1);
            set_limit(most);
            return;
        }
        set_top(top_ - 1);
    }

    // A barrier on top: a frame that does not count.
    Frame& push_barrier(std::size_t most) {
        ++barriers;
        if (top_ + 1 == end_) grow();
        set_limit(most);
        set_top(top_ + 1);
        return *top_;
    }
    void pop_barrier(std::size_t most) {
        set_top(top_ - 1);
        --barriers;
        set_limit(most);
    }

    // Room for `count` more frames on top, or false when the frames that
    // count would be more than `most`.
    bool make_room(std::size_t most, std::size_t count = 1) {
        if (size() - barriers + tail_calls + count > most) return false;
        while (top_ + count >= end_) grow();
        set_limit(most);
        return true;
    }
    void set_limit(std::size_t most) {
        Frame* const deepest = base_ + most + barriers - tail_calls;
        limit_ = deepest < end_ ? deepest : end_;
    }

    // Gives the memory back when the frames are few again after many.
    void shrink(std::size_t most) {
        constexpr std::size_t kept = 4096;
        if (size() == 0 && capacity_ > kept) {
            std::free(base_ - 1);
            base_ = nullptr;
            capacity_ = 0;
            grow();
            set_limit(most);
        }
    }

private:
    // One slot more than the capacity, below the first frame, so that the
    // top of an empty stack points into the array.
    void grow() {
        const std::size_t size = base_ == nullptr ? 0 : this->size();
        const std::size_t capacity = capacity_ == 0 ? 64 : 2 * capacity_;
        void* const old = base_ == nullptr ? nullptr : static_cast<void*>(base_ - 1);
        auto* memory = static_cast<Frame*>(std::realloc(old, (capacity + 1) * sizeof(Frame)));
        if (memory == nullptr) throw std::bad_alloc();
        base_ = memory + 1;
        top_ = base_ + size - 1;
        end_ = base_ + capacity;
        capacity_ = capacity;
    }

    Frame* base_ = nullptr;
    Frame* top_ = nullptr;  // one below base_ when empty
    Frame* end_ = nullptr;
    Frame* limit_ = nullptr;
    std::size_t capacity_ = 0;
};

}  // namespace forth
