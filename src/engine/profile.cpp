#include "engine/profile.hpp"

#include <algorithm>
#include <utility>

#include "core/tables.hpp"
#include "core/user_word.hpp"
#include "engine/places.hpp"
#include "engine/profiler.hpp"

namespace forth {

namespace {

// Stacks deeper than this are counted in the one at this depth: a deep
// recursion's profile stays small, and its lines short. Calls stay exact.
constexpr std::uint32_t most_depth = 256;

}  // namespace

Profiler::Profiler(Context& ctx, std::string root) : ctx_(ctx), known_(known_size), took_(known_size), plain_(known_size) {
    stacks_.push_back({.parent = none, .definition = 0, .depth = 0, .calls = 1});
    self_.push_back(0);
    definitions_.push_back({.name = std::move(root), .defined = {}});
    in_place_.push_back({.depth = 0, .before = 0});
}

// Frames come and go one at a time between steps, but for an error's,
// which leaves none of those it ran in: those above the depth seen are
// calls, those below it returned, and a top one that runs another list
// than it did replaced it.
void Profiler::look_at_frames(const Frame* bottom, const Frame* top) {
    const auto depth = static_cast<std::uint32_t>(top - bottom + 1);
    if (depth_ > depth) depth_ = depth;
    while (in_place_.back().depth > depth_) in_place_.pop_back();
    if (depth_ == depth && shadow_[depth - 1].node != top->node) {
        while (in_place_.back().depth == depth) in_place_.pop_back();
        --depth_;
    }
    while (depth_ < depth) push_frame(bottom[depth_].node);
    current_ = shadow_[depth - 1].stack;
    seen_top_ = top;
    seen_node_ = top->node;
}

void Profiler::push_frame(const ListNode* node) {
    const std::uint32_t below = depth_ == 0 ? 0 : shadow_[depth_ - 1].stack;
    if (shadow_room_ == depth_) {
        shadow_room_ = 2 * depth_ + 16;
        shadow_.resize(shadow_room_);
    }
    shadow_[depth_++] = {node, called_from(below, node)};
}

// The stack a frame that runs `node` above `below` runs in: the call of a
// word's body, or, for any other list, the same. The same list is called
// from the same stack again and again, so what it was is kept at hand.
std::uint32_t Profiler::called_from(std::uint32_t below, const ListNode* node) {
    const Known& found = known(below, node);
    if (found.call) ++stacks_[found.stack].calls;
    return found.stack;
}

const Profiler::Known& Profiler::known(std::uint32_t below, const ListNode* node) {
    const std::uint64_t generation = ctx_.runtime.generation;
    Known& known = known_[known_slot(node, below)];
    if (known.node != node || known.below != below || known.generation != generation) {
        const std::uint32_t definition = definition_of(node);
        const std::uint32_t stack = definition == none ? below : child_of(below, definition);
        known = {node, generation, below, stack, definition != none};
    }
    return known;
}

// The stacks of a counted call's calls, from the one it is made in, its
// runs from elsewhere given first.
void Profiler::place(CountedCalls& counted) {
    if (counted.profile == this) {
        give(counted);
    } else {
        if (counted.profile != nullptr) counted.profile->forget(counted);
        counted.profile = this;
        counted.waiting = waiting_.size();
        waiting_.push_back(&counted);
    }
    counted.below = current_;
    counted.generation = ctx_.runtime.generation;
    for (CountedCalls::Call& call : counted.calls) {
        const std::uint32_t below = call.parent == UINT32_MAX ? current_ : counted.calls[call.parent].stack;
        const Known& found = known(below, call.body);
        call.stack = found.stack;
        call.word = found.call;
    }
}

// A list that takes the top frame over goes on with the word that ran
// there (what took_over finds at hand, worked out); a word is shown inside it, or, when it is one the chain of last
// calls in this frame already went through, as that one again: a loop made
// of last calls is one stack, as deep as the words it goes through.
void Profiler::give(CountedCalls& counted) {
    if (counted.runs == 0) return;
    const auto runs = static_cast<std::int64_t>(counted.runs);
    for (const CountedCalls::Call& call : counted.calls) {
        if (call.word) stacks_[call.stack].calls += counted.runs;
        self_[call.stack] += runs * call.steps;
    }
    counted.runs = 0;
}

void Profiler::forget(CountedCalls& counted) {
    give(counted);
    waiting_[counted.waiting] = waiting_.back();
    waiting_[counted.waiting]->waiting = counted.waiting;
    waiting_.pop_back();
    counted.profile = nullptr;
}

void Profiler::give_all() {
    for (CountedCalls* counted : waiting_) give(*counted);
}

Profiler::~Profiler() {
    for (CountedCalls* counted : waiting_) counted->profile = nullptr;
}

CountedCalls::~CountedCalls() {
    if (profile != nullptr) profile->forget(*this);
}

void Profiler::take_over(const ListNode* node) {
    Shadow& frame = shadow_[depth_ - 1];
    // What the frame ran in place is over.
    while (in_place_.back().depth == depth_) {
        frame.stack = in_place_.back().before;
        in_place_.pop_back();
    }
    const std::uint32_t below = depth_ == 1 ? 0 : shadow_[depth_ - 2].stack;
    const std::uint32_t definition = definition_of(node);
    std::uint32_t stack = frame.stack;
    if (definition != none) {
        // Past the deepest stack kept, the frame's need not be inside the one below.
        const std::uint32_t floor = stacks_[below].depth;
        while (stacks_[stack].depth > floor && stacks_[stack].definition != definition) stack = stacks_[stack].parent;
        if (stacks_[stack].depth <= floor) stack = child_of(frame.stack, definition);
    }
    if (definition == none) plain_[known_slot(node, 0)] = {node, ctx_.runtime.generation};
    took_[known_slot(node, frame.stack ^ below << 16)] = {node, ctx_.runtime.generation, below, frame.stack, stack, definition != none};
    took_over(node, ctx_.runtime.generation);
}

// The stack of a call of `definition` made in `parent`'s: past the deepest
// kept, calls are kept beside the deepest one, so that each word's calls
// and steps stay its own.
std::uint32_t Profiler::child_of(std::uint32_t parent, std::uint32_t definition) {
    if (stacks_[parent].depth >= most_depth) parent = stacks_[parent].parent;
    const std::uint64_t key = (std::uint64_t{parent} << 32) | definition;
    const auto [child, added] = children_.try_emplace(key, static_cast<std::uint32_t>(stacks_.size()));
    if (added) {
        const Stack& up = stacks_[parent];
        stacks_.push_back({.parent = parent, .definition = definition, .depth = up.depth + 1, .next_sibling = up.first_child});
        self_.push_back(0);
        stacks_[parent].first_child = child->second;
    }
    return child->second;
}

std::uint32_t Profiler::definition_of(const ListNode* node) {
    if (node == nullptr) return none;
    if (indexed_generation_ != ctx_.runtime.generation) catch_up_with_dictionary();
    const auto found = by_body_.find(node);
    return found == by_body_.end() ? none : found->second;
}

// The bodies indexed are those the dictionary holds, so none is freed while
// it is indexed: the changes since the last look name the words to index
// again, or, when they are more than the runtime keeps, all of them are.
void Profiler::catch_up_with_dictionary() {
    const Runtime& runtime = ctx_.runtime;
    auto change = std::find_if(runtime.changes.begin(), runtime.changes.end(),
                               [&](const Runtime::Change& made) { return made.before == indexed_generation_; });
    const bool named = std::all_of(change, runtime.changes.end(),
                                   [](const Runtime::Change& made) { return !made.name.empty(); });
    if (change != runtime.changes.end() && named) {
        for (; change != runtime.changes.end(); ++change) index_word(change->name);
    } else {
        by_body_.clear();
        body_of_.clear();
        for (const auto& word : ctx_.words) index_word(word.first);
    }
    indexed_generation_ = runtime.generation;
}

// A word defined again on every pass of a loop is indexed again on every
// pass: the entries of its old body are reused, not made anew.
void Profiler::index_word(const std::string& name) {
    const auto word = ctx_.words.find(name);
    const auto* user_word = word == ctx_.words.end() ? nullptr : word->second.target<UserWord>();
    const ListNode* const body = user_word == nullptr ? nullptr : user_word->body.node();
    decltype(by_body_)::node_type entry;
    if (const auto old = body_of_.find(name); old != body_of_.end()) {
        const auto indexed = by_body_.find(old->second);
        if (indexed != by_body_.end() && definitions_[indexed->second].name == name) entry = by_body_.extract(indexed);
        if (body == nullptr) {
            body_of_.erase(old);
            return;
        }
        old->second = body;
    } else if (body != nullptr) {
        body_of_.emplace(name, body);
    }
    if (body == nullptr) return;
    const std::uint32_t definition = definition_for(name, *body);
    if (entry.empty()) {
        by_body_[body] = definition;
        return;
    }
    entry.key() = body;
    entry.mapped() = definition;
    by_body_.insert(std::move(entry));
}

// Words of one name and one body are one definition, however often it is
// made (a word defined again on each pass of a loop); another body of the
// same name is another, shown with its number.
std::uint32_t Profiler::definition_for(const std::string& name, const ListNode& body) {
    auto& bodies = by_text_[name];
    const auto [found, added] = bodies.try_emplace(body.text, static_cast<std::uint32_t>(definitions_.size()));
    if (!added) return found->second;
    std::string defined;
    if (const Origin origin = body.origin(0); origin.source != 0) {
        const Place place = place_of(evaluator(ctx_), origin, {});
        defined = place.source + ':' + std::to_string(place.line);
    }
    definitions_.push_back({.name = name, .defined = std::move(defined)});
    return found->second;
}

// Visits every stack, depth first: visit(true, stack) on the way in, its
// children's visits, then visit(false, stack).
template <typename Visit>
void Profiler::walk(Visit&& visit) {
    std::uint32_t at = 0;
    visit(true, at);
    while (true) {
        if (stacks_[at].first_child != none) {
            at = stacks_[at].first_child;
            visit(true, at);
            continue;
        }
        while (true) {
            visit(false, at);
            if (at == 0) return;
            if (stacks_[at].next_sibling != none) {
                at = stacks_[at].next_sibling;
                visit(true, at);
                break;
            }
            at = stacks_[at].parent;
        }
    }
}

// The calls of each definition, and its name as a frame: the first called
// of a name has it alone, the others their number after it (; separates
// frames in collapsed stacks).
std::vector<Profiler::Called> Profiler::calls_by_definition() const {
    std::vector<Called> called(definitions_.size());
    for (const Stack& stack : stacks_) called[stack.definition].calls += stack.calls;
    std::unordered_map<std::string, std::uint32_t> named;
    for (std::size_t index = 0; index < definitions_.size(); ++index) {
        if (called[index].calls == 0) continue;
        std::string& name = called[index].name = definitions_[index].name;
        if (index != 0) std::replace(name.begin(), name.end(), ';', ',');
        if (const std::uint32_t count = ++named[definitions_[index].name]; count > 1) name += '#' + std::to_string(count);
    }
    return called;
}

void Profiler::write_collapsed(std::ostream& out) {
    give_all();
    const std::vector<Called> names = calls_by_definition();
    std::string path;
    std::vector<std::size_t> lengths;
    walk([&](bool entering, std::uint32_t at) {
        const Stack& stack = stacks_[at];
        if (!entering) {
            path.resize(lengths.back());
            lengths.pop_back();
            return;
        }
        lengths.push_back(path.size());
        if (at != 0) path += ';';
        path += names[stack.definition].name;
        if (taken(at) != 0) out << path << ' ' << taken(at) << '\n';
    });
}

ProfileSummary Profiler::summary() {
    give_all();
    // What each stack and those inside it took.
    std::vector<std::uint64_t> inside(stacks_.size());
    for (std::size_t at = stacks_.size(); at-- > 0;) {
        inside[at] += taken(at);
        if (at != 0) inside[stacks_[at].parent] += inside[at];
    }
    std::vector<ProfileRow> rows(definitions_.size());
    std::vector<std::uint32_t> open(definitions_.size());
    walk([&](bool entering, std::uint32_t at) {
        const std::uint32_t definition = stacks_[at].definition;
        if (!entering) {
            --open[definition];
            return;
        }
        // A word's total counts the work of a recursion once, at its outermost call.
        if (open[definition]++ == 0) rows[definition].total += inside[at];
        rows[definition].self += taken(at);
    });
    std::vector<Called> names = calls_by_definition();
    ProfileSummary summary{.steps = inside[0], .rows = {}};
    for (std::size_t index = 0; index < definitions_.size(); ++index) {
        if (names[index].calls == 0) continue;
        ProfileRow& row = rows[index];
        row.name = std::move(names[index].name);
        row.defined = definitions_[index].defined;
        row.calls = names[index].calls;
        summary.rows.push_back(std::move(row));
    }
    std::stable_sort(summary.rows.begin(), summary.rows.end(),
                     [](const ProfileRow& a, const ProfileRow& b) { return a.self > b.self; });
    return summary;
}

void start_profile(Context& ctx, std::string root) {
    evaluator(ctx).profiler = std::make_unique<Profiler>(ctx, std::move(root));
    // Code compiled before may run calls in place, which have no frames.
    note_change(ctx);
}

bool profiling(Context& ctx) { return evaluator(ctx).profiler != nullptr; }

void write_collapsed_stacks(Context& ctx, std::ostream& out) {
    if (Profiler* const profiler = evaluator(ctx).profiler.get()) profiler->write_collapsed(out);
}

ProfileSummary profile_summary(Context& ctx) {
    Profiler* const profiler = evaluator(ctx).profiler.get();
    return profiler != nullptr ? profiler->summary() : ProfileSummary{};
}

}  // namespace forth
