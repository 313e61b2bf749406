#include "engine/code.hpp"

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>

#include "core/retired.hpp"
#include "core/user_word.hpp"
#include "engine/fusion.hpp"

namespace forth {

Code::Code() {
    // Distinct in every Context, as generations are; taken once per compile.
    static std::atomic<std::uint64_t> made = 0;
    serial = made.fetch_add(1, std::memory_order_relaxed) + 1;
}

const Instr* Code::entry_at(std::uint32_t token) const {
    auto instr = std::lower_bound(instrs.begin(), instrs.end(), token,
                                  [](const Instr& each, std::uint32_t wanted) { return each.token < wanted; });
    for (; instr != instrs.end() && instr->token == token; ++instr) {
        if (instr->entry) return &*instr;
    }
    return nullptr;
}

const Code::Splice* Code::splice_at(const Instr* instr) const {
    for (const Splice& splice : splices) {
        if (instr >= first() + splice.begin && instr < first() + splice.end) return &splice;
    }
    return nullptr;
}

namespace {

// The head of the last instruction of `instrs`, if any: the slot before
// its others.
Instr* last_instruction(std::vector<Instr>& instrs) {
    if (instrs.empty()) return nullptr;
    Instr* last = &instrs.back();
    while (is_slot(last->op) && last != instrs.data()) --last;
    return last;
}

// Makes the instruction of `instrs` headed at `head` its list's last act or
// not, and an else op in its second slot with it.
void make_last_act(std::vector<Instr>& instrs, Instr* head, bool last) {
    const auto form = [last](Op op) { return last ? tail_form(op) : non_tail_form(op); };
    head->op = form(head->op);
    if (head + 1 != instrs.data() + instrs.size() && is_slot(head[1].op)) head[1].op = form(head[1].op);
}

// When the last instructions of `code` are a spliced list, makes it its
// list's last act (`last`) or not: as it is, the conditional takes the frame
// over, the list ends in ret and a call at its end is its last act too.
bool last_act_spliced(Code& code, bool last) {
    if (code.splices.empty()) return false;
    const Code::Splice& splice = code.splices.back();
    if (splice.end != code.instrs.size() && !splice.past_drop) return false;
    make_last_act(code.instrs, &code.instrs[splice.begin - 2], last);
    code.instrs[splice.end - 1].op = last ? Op::ret : Op::splice_end;
    std::uint32_t at = splice.end - 1;
    while (at > splice.begin && is_slot(code.instrs[at - 1].op)) --at;
    if (at > splice.begin) make_last_act(code.instrs, &code.instrs[at - 1], last);
    return true;
}

// The deepest a guard's depth may be and the most room it takes: a run
// that needs more is split in two.
constexpr std::int32_t most_needed = 1 << 24;
constexpr std::int32_t most_room = 1 << 24;

// Lays out the instructions: each straight run headed by the guard it needs,
// then the end of a call.
class Assembler {
public:
    explicit Assembler(Code& code) : code_(code) {}

    void add(const Emitted& emitted) {
        if (emitted.spliced != nullptr) {
            add_spliced(emitted);
            return;
        }
        if (!is_straight(emitted.slots[0].op)) {
            not_straight_ = true;
            only_calls_ = only_calls_ && emitted.slots[0].op == Op::call;
            calls_ = true;
            const bool proven = emitted.slots[0].op == Op::call && in_run_ && (run_.need > 0 || run_.room > 0);
            const Reach before = run_;
            end_run();
            code_.tail_guard = -1;
            code_.tail_reach = {};
            const std::size_t at = code_.instrs.size();
            append(emitted);
            code_.instrs[at].entry = true;
            if (proven) prove(at, before);
            single_balanced_run_ = false;
            return;
        }
        const Reach reach = reach_of(emitted.slots[0].op, emitted.row, emitted.body);
        const Reach joined = run_.then(reach);
        if (joined.need > most_needed || joined.room > most_room) end_run();
        begin_run();
        const std::size_t at = code_.instrs.size();
        const Reach skipped = run_.then(reach_of(emitted.slots[0].op, emitted.row));
        run_ = run_.then(reach);
        append(emitted);
        note_skipped(at, skipped);
        if (emitted.ends_run) {
            // What follows stands at a depth the flag decided: the list is
            // no straight run, its depth after no constant.
            end_run();
            not_straight_ = true;
            single_balanced_run_ = false;
        }
    }

    // The end of a call, at the token after the last. A call just before
    // it is its list's last act.
    void finish(std::uint32_t size, Op end) {
        constexpr std::size_t most_in_place = 64;
        code_.straight = !not_straight_ && runs_ <= 1;
        code_.in_place = code_.straight && code_.instrs.size() <= most_in_place;
        code_.spliceable = calls_ && only_calls_ && code_.instrs.size() <= most_in_place;
        end_run();
        if (end == Op::ret) leave_out_dropped_value();
        if (end == Op::ret && !last_act_spliced(code_, true)) {
            if (Instr* const last = last_instruction(code_.instrs)) make_last_act(code_.instrs, last, true);
        }
        if constexpr (lays_else) link_else();
        code_.pass_start = single_balanced_run_ ? 1 : 0;
        code_.instrs.push_back({.op = end, .entry = true, .calls = 0, .token = size, .operand = {}});
    }

private:
    // The if-else idiom at a list's end, `{ ... word 0 } iftrue drop`: the
    // value the spliced list pushes last goes only to the drop. The list
    // leaves it out and its end goes past the drop, which makes the list
    // its code's last act and the call before the value the list's. Only
    // when that call is the list's one: a frame that stops after another
    // goes on in the list's own tokens, the value among them.
    void leave_out_dropped_value() {
        if (code_.splices.empty()) return;
        Code::Splice& splice = code_.splices.back();
        std::vector<Instr>& instrs = code_.instrs;
        const std::uint32_t end = splice.end;
        if (instrs.size() != end + 2 || instrs[end].op != Op::guard || instrs[end + 1].op != Op::drop_alone) return;
        // The list's last run: its guard and the value, after the call.
        const std::uint32_t cut = end - 3;
        if (cut <= splice.begin || instrs[cut].op != Op::guard || instrs[cut + 1].op != Op::number) return;
        std::uint32_t call = cut;
        while (call > splice.begin && is_slot(instrs[call - 1].op)) --call;
        if (call == splice.begin || !calls_word(instrs[--call].op)) return;
        for (std::uint32_t index = splice.begin; index < call; ++index) {
            if (!is_straight(instrs[index].op) && !is_slot(instrs[index].op)) return;
        }
        instrs.erase(instrs.begin() + cut, instrs.begin() + cut + 2);
        splice.tokens.erase(splice.tokens.begin() + (cut - splice.begin), splice.tokens.begin() + (cut + 2 - splice.begin));
        splice.end -= 2;
        splice.tail_guard = -1;
        splice.past_drop = true;
        instrs[splice.begin - 1].operand.laid.skip -= 2;
        instrs[splice.end - 1].operand.laid.skip = static_cast<std::int32_t>(instrs.size() - (splice.end - 1));
        code_.tail_guard = static_cast<std::int32_t>(splice.end);
    }

    // Of a conditional at `at` that keeps its flag: the depth its run
    // proves where it goes on past its list (`skipped`, the list left out),
    // kept in its second slot for link_else.
    void note_skipped(std::size_t at, const Reach& skipped) {
        if (!keeps_flag(branch_of(code_.instrs[at].op))) return;
        code_.instrs[at + 1].calls = static_cast<std::uint8_t>(std::clamp(skipped.need + skipped.delta, 0, UINT8_MAX + 0));
    }

    // The if-else idiom, `dup { A } iftrue { B } iffalse`: where the first
    // conditional goes on past its list, the second runs on the flag the
    // first kept, which says to run it. The first goes on at the second's
    // else op instead, which takes the flag and runs the list untested; it
    // keeps the depth the first proves there, less the flag.
    void link_else() {
        std::vector<Instr>& instrs = code_.instrs;
        for (std::size_t at = 0; at + 1 < instrs.size(); ++at) {
            const Branch first = branch_of(instrs[at].op);
            if (!keeps_flag(first)) continue;
            const std::size_t to = at + static_cast<std::size_t>(instrs[at + 1].operand.laid.skip);
            if (to + 1 >= instrs.size() || else_form(instrs[to].op) == Op::count) continue;
            if (runs_on_true(branch_of(instrs[to].op)) == runs_on_true(first)) continue;
            instrs[to + 1].op = else_form(instrs[to].op);
            instrs[to + 1].calls = static_cast<std::uint8_t>(std::max(instrs[at + 1].calls - 1, 0));
            ++instrs[at + 1].operand.laid.skip;
        }
    }

    void begin_run() {
        if (in_run_) return;
        in_run_ = true;
        run_start_ = code_.instrs.size();
        ++runs_;
        // A run right after a spliced list: the guard of the list's last run
        // may check it too (end_run).
        after_splice_ = !code_.splices.empty() && code_.splices.back().end == run_start_
                            ? static_cast<std::int32_t>(code_.splices.size() - 1)
                            : -1;
    }

    // A call right after a guarded run: the depth the run's guard proves
    // there lets the call enter its callee past a guard that asks no more,
    // checking only the room. It is entered from that run alone, never by a
    // frame going on from its token, which may come to it with any depth.
    void prove(std::size_t at, const Reach& run) {
        code_.instrs[at].op = Op::call_proven;
        code_.instrs[at].entry = false;
        code_.instrs[at + 1].calls = static_cast<std::uint8_t>(std::clamp(run.need + run.delta, 0, UINT8_MAX + 0));
    }

    // A conditional whose list is spliced in: the run it ends checks the
    // flag and the list's first run, whose guard is left out.
    void add_spliced(const Emitted& emitted) {
        not_straight_ = true;
        only_calls_ = false;
        calls_ = true;
        single_balanced_run_ = false;
        begin_run();
        const std::size_t at = code_.instrs.size();
        const Reach skipped = run_.then(reach_of(emitted.slots[0].op, emitted.row));
        run_ = run_.then(reach_of(emitted.slots[0].op, emitted.row, emitted.body));
        append(emitted);
        note_skipped(at, skipped);
        const Code& list = *emitted.spliced;
        Code::Splice& made = code_.splices.emplace_back();
        made.begin = static_cast<std::uint32_t>(code_.instrs.size());
        made.list = emitted.spliced_list;
        const std::size_t first = list.instrs.front().op == Op::guard ? 1 : 0;
        for (std::size_t index = first; index < list.instrs.size(); ++index) {
            Instr copy = list.instrs[index];
            made.tokens.push_back(copy.token);
            if (copy.op == Op::tail_call || copy.op == Op::tail_call_proven) copy.op = non_tail_form(copy.op);
            if (index + 1 == list.instrs.size()) {
                copy.op = Op::splice_end;
                copy.operand.laid = {1, 0};
            }
            copy.entry = false;
            copy.token = emitted.slots[0].token;
            code_.instrs.push_back(copy);
        }
        made.end = static_cast<std::uint32_t>(code_.instrs.size());
        code_.instrs[made.begin - 1].operand.laid.skip = static_cast<std::int32_t>(made.end - (made.begin - 2));
        made.tail_guard = list.tail_guard < 0 ? -1 : static_cast<std::int32_t>(made.begin + list.tail_guard - first);
        made.tail_reach = list.tail_reach;
        end_run();
        code_.tail_guard = -1;
        code_.tail_reach = {};
    }

    void append(const Emitted& emitted) {
        for (std::size_t slot = 0; slot < emitted.size; ++slot) code_.instrs.push_back(emitted.slots[slot]);
        // A body run in place stands for its call's token, one call deeper.
        for (std::size_t index = 0; index < emitted.in_place.size(); ++index) {
            Instr instr = emitted.in_place[index];
            instr.entry = false;
            if (laid_in(instr.op)) ++instr.calls;
            instr.token = emitted.slots[0].token;
            if (emitted.counted && instr.op == Op::call_in_place_counted) {
                instr.op = Op::call_in_place;
                ++index;
            }
            code_.instrs.push_back(instr);
        }
        if (emitted.marked) {
            code_.instrs.push_back(
                {.op = Op::in_place_end, .entry = false, .calls = 0, .token = emitted.slots[0].token, .operand = {}});
        }
    }

    void end_run() {
        if (!in_run_) return;
        code_.reach = run_;
        std::vector<Instr>& instrs = code_.instrs;
        const bool first_run = run_start_ == 0;
        if (first_run) code_.first_reach = run_;
        const auto start = instrs.begin() + static_cast<std::ptrdiff_t>(run_start_);
        if (run_.need > 0 || run_.room > 0) {
            // Only the guard is an entry: the run must be entered at its head.
            instrs.insert(start, make_guard(run_.need, run_.room, start->token));
            single_balanced_run_ = first_run && run_.delta == 0;
            for (Code::Splice& splice : code_.splices) {
                if (splice.begin > run_start_) {
                    ++splice.begin;
                    ++splice.end;
                    if (splice.tail_guard >= 0) ++splice.tail_guard;
                }
            }
            code_.tail_guard = static_cast<std::int32_t>(run_start_);
            if (after_splice_ >= 0) merge_after_splice(code_.splices[static_cast<std::size_t>(after_splice_)]);
        } else {
            // An unguarded run may be entered anywhere but at a second slot.
            for (auto instr = start; instr != instrs.end(); ++instr) {
                if (!is_slot(instr->op)) instr->entry = true;
            }
            single_balanced_run_ = false;
            code_.tail_guard = -1;
        }
        code_.tail_reach = run_;
        in_run_ = false;
        after_splice_ = -1;
        run_ = {};
    }

    // The guard of a spliced list's last run checks the run after the list
    // too, which the list's end then enters past its guard: a skipped list
    // goes on at that guard.
    void merge_after_splice(const Code::Splice& splice) {
        if (splice.tail_guard < 0) return;
        const Reach both = splice.tail_reach.then(run_);
        Instr& guard = code_.instrs[static_cast<std::size_t>(splice.tail_guard)];
        guard.operand = make_guard(both.need, both.room, guard.token).operand;
        code_.instrs[splice.end - 1].operand.laid.skip = 2;
    }

    Code& code_;
    bool in_run_ = false;
    std::size_t run_start_ = 0;
    Reach run_;
    bool single_balanced_run_ = false;
    bool not_straight_ = false;
    bool calls_ = false;       // it has a call
    bool only_calls_ = true;   // and no op but straight ones and calls
    std::int32_t after_splice_ = -1;  // the spliced list the run follows, if any
    int runs_ = 0;
};

std::unique_ptr<Code> compile(Context& ctx, ListNode& node, const Code* previous) {
    Evaluator& state = evaluator(ctx);
    state.tokens_compiled += node.size();
    auto code = std::make_unique<Code>();
    code->node = &node;
    code->generation = ctx.runtime.generation;
    code->instrs.reserve(node.size() + 1);
    Assembler assembler(*code);
    compile_terms(ctx, node, *code, previous, [&assembler](const Emitted& emitted) { assembler.add(emitted); });
    // While places are tracked, a call at a list's end keeps the frame of
    // the list, which the chain of an error then shows.
    assembler.finish(static_cast<std::uint32_t>(node.size()), state.tracking ? Op::ret_kept : Op::ret);
    // Each op laid in knows the frames its calls take, as the loop checks them.
    for (std::size_t index = 0; index < code->instrs.size(); ++index) {
        const Instr& instr = code->instrs[index];
        if (!laid_in(instr.op)) continue;
        const bool own = instr.op == Op::call_in_place || instr.op == Op::call_in_place_marked ||
                         instr.op == Op::call_in_place_counted;
        Instr& laid = own ? code->instrs[index] : code->instrs[index + 1];
        laid.operand.laid.frames = static_cast<std::int32_t>(instr.calls * sizeof(Frame));
    }
    code->entry = code->first();
    if (code->entry->op == Op::guard) {
        code->entry_guard.below = code->entry->operand.guard.below;
        code->entry_guard.room = code->entry->operand.guard.room;
        ++code->entry;
    }
    return code;
}

// The op that ends a list that runs as `run` says.
Op end_of(Run run) {
    switch (run) {
        case Run::times:
            return Op::times_back;
        case Run::body:
            return Op::to_condition;
        case Run::condition:
            return Op::repeat_test;
        default:
            return Op::ret;
    }
}

// The longest body a times loop lays twice in one code. A longer body laid
// twice makes a pattern of dispatches twice as long, which an AMD EPYC's
// branch prediction misses: 7 instructions (calls.tv) took 1.7 times as
// long as laid once.
constexpr std::size_t most_paired = 4;

// The same instructions as `code`, ending as `run` says. A times loop over
// one short balanced straight run (whose guard the later passes skip) lays
// two passes in one code, ending in times_back_pair: a pass costs less than
// the store and the load of the count of passes that each would otherwise
// wait on. Unless places are tracked: the second pass stands for the end's
// token, so that the tokens stay in order.
std::unique_ptr<Code> variant(Code& code, Run run) {
    auto made = std::make_unique<Code>();
    made->node = code.node;
    made->owner = &code;
    made->generation = code.generation;
    made->instrs = code.instrs;
    made->splices = code.splices;
    // A call before an end that is no return is no last act.
    made->instrs.pop_back();
    if (!last_act_spliced(*made, false)) {
        if (Instr* const last = last_instruction(made->instrs)) make_last_act(made->instrs, last, false);
    }
    const Instr end = code.instrs.back();
    if (run == Run::times && code.straight && code.pass_start == 1 && end.op == Op::ret &&
        code.instrs.size() - 2 <= most_paired) {
        made->instrs.push_back({.op = Op::times_second, .entry = false, .calls = 0, .token = end.token, .operand = {}});
        for (auto instr = code.instrs.begin() + 1; instr + 1 != code.instrs.end(); ++instr) {
            made->instrs.push_back(*instr);
            made->instrs.back().entry = false;
            made->instrs.back().token = end.token;
        }
        // A frame that must go on from the end goes through times_back (end_code):
        // this end ends a pair of passes only.
        made->instrs.push_back(end);
        made->instrs.back().op = Op::times_back_pair;
        made->instrs.back().entry = false;
    } else {
        made->instrs.push_back(end);
        made->instrs.back().op = end_of(run);
    }
    made->pass_head = made->instrs.data() + code.pass_start;
    return made;
}

// Where token `index` is looked up by an instruction of its own: null when
// it is inside another's run of tokens or construct.
Instr* instruction_at(Code& code, std::uint32_t index) {
    auto instr = std::lower_bound(code.instrs.begin(), code.instrs.end(), index,
                                  [](const Instr& each, std::uint32_t wanted) { return each.token < wanted; });
    for (; instr != code.instrs.end() && instr->token == index; ++instr) {
        if (instr->op != Op::guard && !is_slot(instr->op)) return &*instr;
    }
    return nullptr;
}

// Brings `code` up to date with the changes since it was compiled, if none
// of them touched a token it looked up, or only touched calls of words
// that are still words defined in the language: those it makes call the
// new body, in place, in its variants too. False when it must be compiled
// anew: a change it does not know, a name that is something else now, or
// code that found a token through an alias and so depends on more than its
// own tokens.
bool repair(Context& ctx, Code& code) {
    if (code.depends_on_all) return false;
    const auto& changes = ctx.runtime.changes;
    auto since = changes.begin();
    while (since != changes.end() && since->before != code.generation) ++since;
    if (since == changes.end()) return false;
    for (auto change = since; change != changes.end(); ++change) {
        const std::string& name = change->name;
        if (name.empty()) return false;
        if ((code.looked_up & name_bit(name_hash(name))) == 0) continue;
        for (std::uint32_t index = 0; index < code.node->size(); ++index) {
            if (code.node->token(index) != name) continue;
            Instr* const call = instruction_at(code, index);
            if (call == nullptr || !calls_word(call->op) || ctx.aliases.contains(name))
                return false;
            const auto word = ctx.words.find(name);
            const auto* user_word = word == ctx.words.end() ? nullptr : word->second.target<UserWord>();
            if (user_word == nullptr) return false;
            ListNode* const body = user_word->body.node() != nullptr ? user_word->body.node() : &empty_list(ctx);
            const auto at = call - code.instrs.data();
            call->operand.node = body;
            for (auto& made : code.variants) {
                if (made) made->instrs[static_cast<std::size_t>(at)].operand.node = body;
            }
        }
    }
    return true;
}

// A code of its own instructions that is never current.
Code* never_current(std::initializer_list<Instr> instrs) {
    auto* made = new Code;  // kept for good
    made->instrs = instrs;
    made->generation = std::numeric_limits<std::uint64_t>::max();
    return made;
}

}  // namespace

Code& make_current(Context& ctx, ListNode& node) {
    const std::uint64_t generation = ctx.runtime.generation;
    auto* code = static_cast<Code*>(node.code.get());
    if (code == nullptr || code->generation != generation) {
        if (code != nullptr && repair(ctx, *code)) {
            code->generation = generation;
            for (auto& made : code->variants) {
                if (made) made->generation = generation;
            }
            if (code->loop) code->loop->generation = generation;
        } else {
            std::unique_ptr<Code> fresh = compile(ctx, node, code);
            code = fresh.get();
            std::unique_ptr<Compiled> old = std::exchange(node.code, std::move(fresh));
            retire(std::move(old));
        }
        node.frozen = true;
    }
    return *code;
}

Code& make_variant(Code& code, Run run) {
    auto& made = code.variants[static_cast<std::size_t>(run)];
    if (!made) made = variant(code, run);
    return *made;
}

Code& repeat_loop(Code& body, const Code& condition) {
    if (body.loop && body.loop_condition == condition.serial) return *body.loop;
    auto loop = std::make_unique<Code>();
    loop->node = body.node;
    loop->owner = &body;
    loop->generation = body.generation;
    loop->condition = condition.node;
    // The body, then the condition, then the test of its result: checked
    // once a pass, or once for all passes when a pass leaves the depth as
    // it found it.
    const Reach pass = body.reach.then(condition.reach).then(Reach::of({1, 0}));
    const bool balanced = pass.delta == 0;
    std::vector<Instr>& instrs = loop->instrs;
    instrs.push_back(make_guard(pass.need, pass.room, 0));
    // Their instructions point at the lists the two codes hold, without
    // holding them: the loop runs only while both codes are current.
    const auto append = [&instrs](const Code& code) {
        const std::size_t guarded = code.instrs.front().op == Op::guard ? 1 : 0;
        for (std::size_t index = guarded; index + 1 < code.instrs.size(); ++index) {
            Instr instr = code.instrs[index];
            instr.entry = false;
            instrs.push_back(instr);
        }
    };
    append(body);
    loop->split = instrs.size();
    // A condition of dup alone (`{ dup } repeat`) is tested where the top
    // stands: its copy would go through the stack's memory and back on
    // every pass, on the way from one pass's result to the next.
    const bool dup_alone = condition.instrs.size() == 3 && condition.instrs[0].op == Op::guard &&
                           condition.instrs[1].op == op_of(Row::dup, Form::alone);
    if (!dup_alone) append(condition);
    instrs.push_back({.op = dup_alone ? Op::repeat_back_kept : Op::repeat_back,
                      .entry = false,
                      .calls = 0,
                      .token = static_cast<std::uint32_t>(condition.node->size()),
                      .operand = {.number = 0}});
    loop->pass_head = instrs.data() + (balanced ? 1 : 0);
    body.loop = std::move(loop);
    body.loop_condition = condition.serial;
    return *body.loop;
}

Code by_tokens_code;

const Code nothing_entered = [] {
    Code made;
    made.generation = std::numeric_limits<std::uint64_t>::max();
    return made;
}();

namespace {

// Never current: a return that reaches a frame running token by token
// looks at it.
const bool by_tokens_code_made = [] {
    by_tokens_code.instrs = {by_tokens_instruction};
    by_tokens_code.generation = std::numeric_limits<std::uint64_t>::max();
    return true;
}();

}  // namespace

Code& end_code(Run run) {
    // The next pass of a times loop begins where begin_pass stands.
    const auto made = [](Run of) {
        Code* const code = never_current({{.op = end_of(of), .entry = true, .calls = 0, .token = 0, .operand = {}},
                                          {.op = Op::begin_pass, .entry = true, .calls = 0, .token = 0, .operand = {}}});
        code->pass_head = code->first() + 1;
        return code;
    };
    static Code* const codes[] = {made(Run::once), made(Run::times), made(Run::body), made(Run::condition)};
    switch (run) {
        case Run::times:
            return *codes[1];
        case Run::body:
            return *codes[2];
        case Run::condition:
            return *codes[3];
        default:
            return *codes[0];
    }
}

}  // namespace forth
