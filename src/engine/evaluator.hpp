#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "core/context.hpp"
#include "core/entry.hpp"

namespace forth {

struct Instr;
struct Code;
class Profiler;

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
// evaluator's own, not as calls of the machine's stack, so the depth of
// recursion in the language is a count, whatever the build or stack size.
//
// A frame runs its list one of two ways. By instructions, `ip` is where it
// goes on in `code`, the list's instructions (engine/code.hpp). Token by
// token (its first run, while a construct collects, for source text, and
// when every list runs so), `ip` points at the instruction that hands the
// frame to the driver (by_tokens_instr) and `pc` is the next token.
// Frames point at their lists and codes without owning them: the retired
// lists (core/retired.hpp) keep them alive while they run.
struct Frame {
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
    ListNode* node;  // the list being run; null for text, and for native code
    union {
        Times times;
        Repeat repeat;
        Tail tail;
        TextState* text;
    };
    std::uint32_t pc;
    Run kind;  // nothing for where native code ran the evaluator
};

// The frames of the calls running, bottom first, in one array that grows.
// The calls they stand for (a frame each but those of native code, and the
// calls that took over a frame) are never more than max_depth: the check
// is the one comparison of a push with `limit`.
class FrameStack {
public:
    FrameStack() {
        grow();
        limit_ = base_;  // the first push sets the limit
    }
    ~FrameStack() { std::free(base_ - 1); }
    FrameStack(const FrameStack&) = delete;
    FrameStack& operator=(const FrameStack&) = delete;

    bool empty() const { return top_ + 1 == base_; }
    std::size_t size() const { return static_cast<std::size_t>(top_ + 1 - base_); }
    Frame& back() { return *top_; }
    const Frame& back() const { return *top_; }
    Frame& operator[](std::size_t index) { return base_[index]; }
    const Frame& operator[](std::size_t index) const { return base_[index]; }

    // What the evaluator keeps in registers and writes back: the top, and
    // the limit, which a push that reaches must make room first
    // (make_room). The limit may fall short of the exact one, never past
    // it, and the next push that reaches it sets it again.
    Frame* top() const { return top_; }
    void set_top(Frame* top) { top_ = top; }
    Frame* limit() const { return limit_; }
    void set_limit_to(Frame* limit) { limit_ = limit; }
    Frame* end() const { return end_; }

    std::size_t native = 0;      // frames of native code, which do not count toward the depth
    std::size_t tail_calls = 0;  // calls that count without a frame of their own

    // `calls` calls take over `frame`, the top one (whose pointer the
    // evaluator may hold in a register, ahead of `top`), of kind once or
    // tail, where pushes would have found room: they count without frames
    // of their own. The limit must move down by as many.
    void take_over(Frame& frame, std::uint32_t calls) {
        if (frame.kind == Run::tail) {
            frame.tail.calls += calls;
        } else {
            frame.kind = Run::tail;
            frame.tail.calls = calls;
        }
        tail_calls += calls;
    }

    // The calls that took over `frame` are gone with it: the limit may move
    // up by as many, but not past the end of the frames.
    std::uint32_t release(const Frame& frame) {
        tail_calls -= frame.tail.calls;
        return frame.tail.calls;
    }

    // Takes the top frame off, with the calls it stood for.
    void pop(std::size_t most) {
        if (top_->kind == Run::tail) {
            tail_calls -= top_->tail.calls;
            set_top(top_ - 1);
            set_limit(most);
            return;
        }
        set_top(top_ - 1);
    }

    // Where native code runs the evaluator: a frame that does not count.
    Frame& push_native(std::size_t most) {
        ++native;
        if (top_ + 1 == end_) grow();
        set_limit(most);
        set_top(top_ + 1);
        return *top_;
    }
    void pop_native(std::size_t most) {
        set_top(top_ - 1);
        --native;
        set_limit(most);
    }

    // Room for `count` more frames on top, or false when the frames that
    // count would be more than `most`.
    bool make_room(std::size_t most, std::size_t count = 1) {
        if (size() - native + tail_calls + count > most) return false;
        while (top_ + count >= end_) grow();
        set_limit(most);
        return true;
    }
    void set_limit(std::size_t most) {
        Frame* const deepest = base_ + most + native - tail_calls;
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

// The evaluator's own bookkeeping for one Context; no word looks at it.
// Nothing of it is shared with another Context, so that Contexts run on
// threads of their own.
struct Evaluator final : Engine {
    Evaluator();
    ~Evaluator() override;

    FrameStack frames;
    // What a sweep of the retired lists keeps is what these frames run;
    // it sweeps when they have grown past this many.
    std::size_t sweep_threshold = 4096;
    // The list of no tokens, frozen: run where no list is given, and held
    // by the code of an empty construct, which may hand it to the buffer.
    TokenList empty;
    // Text states of frames that ended, for the next texts
    // (engine/frames.cpp).
    std::vector<std::unique_ptr<TextState>> spare_texts;
    // The lists being compiled, inside one another (engine/fusion.cpp).
    std::vector<const ListNode*> being_compiled;
    std::size_t reentries = 0;  // runs of the evaluator inside one another, from native code
    bool by_tokens = false;     // every list runs token by token (for tests that compare the ways)
    bool eager = false;         // every list is compiled at its first run (ListNode::ran), likewise
    // Called at every call and loop pass while set (embed.hpp).
    std::function<void(Context&)> on_poll;
    std::size_t tokens_compiled = 0;  // which no call or pass counts, for such a hook
    // Where tokens come from is kept with the lists they are collected
    // into, so that errors point inside words; source names by number
    // (Origin::source - 1). Fusion and calls run in place stay off, so
    // that each instruction is one token.
    bool tracking = false;
    std::vector<std::string> sources;
    Origin text_start;  // where the next text evaluated was read
    // The construct opened last, while tracked: the token and its place.
    Place opened;
    // Called before each token while set; every list then runs token by token.
    std::function<void(Context&)> trace;
    // Counts each step and call while set (engine/profile.hpp); code is then
    // compiled to tell it of the calls it runs in place.
    std::unique_ptr<Profiler> profiler;
    // The chain of tokens an error left, noted once on its way out.
    std::vector<Place> chain;
    bool chain_noted = false;
    // The error on its way out of the innermost source text it left, and
    // where it left it (engine/embed.hpp).
    std::exception_ptr failing;
    ErrorLocation failed_at;

    void run(Context& ctx, const TokenList& list) override;
};

// The evaluator of `ctx`, made the first time it is asked for.
inline Evaluator& evaluator(Context& ctx) {
    if (!ctx.engine) [[unlikely]]
        ctx.engine = std::make_unique<Evaluator>();
    return static_cast<Evaluator&>(*ctx.engine);
}

}  // namespace forth
