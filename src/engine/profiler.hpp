#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/code.hpp"
#include "engine/evaluator.hpp"
#include "engine/profile.hpp"

// The profile of a run (engine/profile.hpp) as the evaluator keeps it: a
// tree of the stacks of calls seen, each with the steps taken in it. The
// engine tells it of its steps and of each change of the top frame; it
// reads which frames are calls of words from the frames themselves, so
// that the loop needs no hook at each of the ways a call is made.
namespace forth {

class Profiler {
public:
    Profiler(Context& ctx, std::string root);

    // A token is about to run in `top`, the top of `frames`.
    void step(const FrameStack& frames, const Frame* top) {
        if (top != seen_top_ || top->node != seen_node_) [[unlikely]]
            look_at_frames(&frames[0], top);
        ++self_[current_];
    }

    // What the profiled loop does instead, keeping its steps and the top
    // frame it saw in registers. It hands its steps over before code
    // outside it may change the frames, and tells of each change of the top
    // frame: most often one call deeper or one return up, which this
    // follows in line.
    void count(std::int64_t steps) { self_[current_] += steps; }
    void add_steps(std::int64_t steps) {
        count(steps);
        seen_top_ = nullptr;
    }
    // `top` is one frame above the one seen: a call of what its list is,
    // as last seen above this stack. (The loop hands over the dictionary's
    // generation, which it keeps in a register, here and below.)
    void called(const FrameStack& frames, const Frame* top, std::uint64_t generation) {
        const ListNode* const node = top->node;
        if (depth_ < shadow_room_) [[likely]] {
            const std::uint32_t below = current_;
            const Known& known = known_[known_slot(node, below)];
            if (known.node == node && known.below == below && known.generation == generation) {
                if (known.call) ++stacks_[known.stack].calls;
                shadow_[depth_++] = {node, known.stack};
                current_ = known.stack;
                return;
            }
        }
        look_at_frames(&frames[0], top);
    }
    // `top` is one frame below the one seen, which may have run a call in place.
    void returned(const FrameStack& frames, const Frame* top) {
        if (depth_ >= 2 && in_place_.back().depth < depth_) [[likely]] {
            current_ = shadow_[--depth_ - 1].stack;
            return;
        }
        look_at_frames(&frames[0], top);
    }
    // The frames from `bottom` up to `top`, after any change.
    void look_at_frames(const Frame* bottom, const Frame* top);
    // A call whose calls and steps are known (CountedCalls) begins: all of
    // them are counted. Its steps, which the loop then does not count.
    // Its runs are counted, and given to the stacks when it runs from
    // another stack, when the profile is read, or when it goes.
    std::int64_t count_straight(CountedCalls& counted, std::uint64_t generation) {
        if (counted.below != current_ || counted.generation != generation || counted.profile != this)
            [[unlikely]] {
            if (!moved_at_hand(counted, generation)) place(counted);
        }
        ++counted.runs;
        return counted.steps;
    }
    // The same call of one body made from another stack, as a recursion
    // makes it at each depth: given, then moved to where the stack's cache
    // says, if it knows.
    bool moved_at_hand(CountedCalls& counted, std::uint64_t generation) {
        if (counted.calls.size() != 1 || counted.profile != this || counted.generation != generation) return false;
        CountedCalls::Call& call = counted.calls[0];
        const Known& known = known_[known_slot(call.body, current_)];
        if (known.node != call.body || known.below != current_ || known.generation != generation) return false;
        if (call.word) stacks_[call.stack].calls += counted.runs;
        self_[call.stack] += static_cast<std::int64_t>(counted.runs) * call.steps;
        counted.runs = 0;
        call.stack = known.stack;
        call.word = known.call;
        counted.below = current_;
        return true;
    }
    void give(CountedCalls& counted);
    void forget(CountedCalls& counted);
    ~Profiler();
    Profiler(const Profiler&) = delete;
    Profiler& operator=(const Profiler&) = delete;

    // A call of `body` begins to run in place in the top frame, or the
    // innermost one ends. The call's own op keeps the stack it was last
    // made in and the one it made: the same, as long as its code, which no
    // change leaves current.
    template <typename Site>
    void enter_in_place(const ListNode* body, Site& site) {
        std::uint32_t& stack = shadow_[depth_ - 1].stack;
        in_place_.push_back({depth_, stack});
        if (site.below != stack) [[unlikely]] {
            const std::uint32_t made = called_from(stack, body);
            // Kept only for a word's body, which it is while its code is current.
            site.below = known_[known_slot(body, stack)].call ? stack : none;
            site.stack = made;
        } else {
            ++stacks_[site.stack].calls;
        }
        current_ = stack = site.stack;
    }
    void leave_in_place() {
        const InPlace& inner = in_place_.back();
        if (inner.depth != depth_) return;
        current_ = shadow_[depth_ - 1].stack = inner.before;
        in_place_.pop_back();
    }

    // The top frame, seen, was taken over by the call that is its list's
    // last act, which runs `node`: the call is shown inside the word it took
    // the place of (take_over).
    // Most often it is a list that is no word's body (a conditional's): the
    // frame goes on in the stack it ran in, and this is all there is to do.
    bool took_over_plain(const ListNode* node, std::uint64_t generation) {
        const Plain& plain = plain_[known_slot(node, 0)];
        if (plain.node != node || plain.generation != generation || in_place_.back().depth == depth_) return false;
        shadow_[depth_ - 1].node = node;
        return true;
    }
    void took_over(const ListNode* node, std::uint64_t generation) {
        Shadow& frame = shadow_[depth_ - 1];
        const std::uint32_t below = depth_ == 1 ? 0 : shadow_[depth_ - 2].stack;
        const Took& took = took_[known_slot(node, frame.stack ^ below << 16)];
        if (in_place_.back().depth == depth_ || took.node != node || took.from != frame.stack || took.below != below ||
            took.generation != generation) [[unlikely]] {
            take_over(node);
            return;
        }
        frame.node = node;
        if (took.call) ++stacks_[took.stack].calls;
        frame.stack = current_ = took.stack;
    }

    void write_collapsed(std::ostream& out);
    ProfileSummary summary();
    void give_all();

private:
    static constexpr std::uint32_t none = UINT32_MAX;

    // A distinct stack: the call of `definition` made in its parent's stack.
    struct Stack {
        std::uint32_t parent;
        std::uint32_t definition;  // the root's is the program's
        std::uint32_t depth;
        std::uint32_t first_child = none;
        std::uint32_t next_sibling = none;
        std::uint64_t calls = 0;
    };
    // A frame as last seen: its list and the stack it runs in now (that of
    // the word it calls, or the one below for a list that is no word's
    // body, or of the innermost call it runs in place).
    struct Shadow {
        const ListNode* node;
        std::uint32_t stack;
    };
    // A call run in place in the frame `depth` deep, and the stack the
    // frame ran in before it; below all of them, one 0 deep.
    struct InPlace {
        std::uint32_t depth;
        std::uint32_t before;
    };
    // What a list run above a stack was, in the dictionary's generation
    // then; and what one that took a frame over running `from` made of it.
    struct Known {
        const ListNode* node = nullptr;
        std::uint64_t generation = 0;
        std::uint32_t below = 0;
        std::uint32_t stack = 0;
        bool call = false;  // a word's body: a call, even where its stack is the one below
    };
    // A list found to be no word's body in the dictionary's generation then.
    struct Plain {
        const ListNode* node = nullptr;
        std::uint64_t generation = 0;
    };
    struct Took {
        const ListNode* node = nullptr;
        std::uint64_t generation = 0;
        std::uint32_t below = 0;
        std::uint32_t from = 0;
        std::uint32_t stack = 0;
        bool call = false;
    };
    static constexpr std::size_t known_size = 4096;
    static std::size_t known_slot(const ListNode* node, std::uint32_t below) {
        return (reinterpret_cast<std::uintptr_t>(node) / alignof(ListNode) ^ below * 0x9e3779b1u) % known_size;
    }
    struct Definition {
        std::string name;
        std::string defined;  // where its body was read, when known
    };
    struct Called {
        std::uint64_t calls = 0;
        std::string name;  // as a frame
    };

    void push_frame(const ListNode* node);
    void place(CountedCalls& counted);
    const Known& known(std::uint32_t below, const ListNode* node);
    std::uint64_t taken(std::uint32_t stack) const { return self_[stack] > 0 ? static_cast<std::uint64_t>(self_[stack]) : 0; }
    void take_over(const ListNode* node);
    std::uint32_t called_from(std::uint32_t below, const ListNode* node);
    std::uint32_t child_of(std::uint32_t parent, std::uint32_t definition);
    std::vector<Called> calls_by_definition() const;

    // Which lists are the bodies of which words, kept as the dictionary
    // changes: a call is known by the body it runs.
    std::uint32_t definition_of(const ListNode* node);
    void catch_up_with_dictionary();
    void index_word(const std::string& name);
    std::uint32_t definition_for(const std::string& name, const ListNode& body);

    template <typename Visit>
    void walk(Visit&& visit);

    Context& ctx_;
    // What step compares with.
    const Frame* seen_top_ = nullptr;
    const ListNode* seen_node_ = nullptr;

    std::vector<Stack> stacks_;  // the root first; a child after its parent
    // The steps taken in each; those of a counted call are given before
    // they are taken, so an error in it may leave a stack fewer than none.
    std::vector<std::int64_t> self_;
    std::unordered_map<std::uint64_t, std::uint32_t> children_;  // by parent and definition
    std::uint32_t current_ = 0;                                  // the stack steps go to
    std::vector<Shadow> shadow_;  // the frames seen, bottom first: depth_ of them
    std::uint32_t shadow_room_ = 0;  // its size
    std::uint32_t depth_ = 0;
    std::vector<InPlace> in_place_;
    std::vector<Known> known_;
    std::vector<Took> took_;
    std::vector<Plain> plain_;
    std::vector<CountedCalls*> waiting_;  // with runs not given yet

    std::vector<Definition> definitions_;
    // By name, then by body.
    std::unordered_map<std::string, std::unordered_map<std::string, std::uint32_t>> by_text_;
    std::unordered_map<const ListNode*, std::uint32_t> by_body_;
    std::unordered_map<std::string, const ListNode*> body_of_;
    std::uint64_t indexed_generation_ = 0;
};

}  // namespace forth
