#include "engine/code.hpp"

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <limits>

#include "core/retired.hpp"
#include "core/user_word.hpp"
#include "engine/fusion.hpp"

namespace forth {

Code::Code() {
    static std::uint64_t made = 0;
    serial = ++made;
}

const Instr* Code::entry_at(std::uint32_t token) const {
    auto instr = std::lower_bound(instrs.begin(), instrs.end(), token,
                                  [](const Instr& each, std::uint32_t wanted) { return each.token < wanted; });
    for (; instr != instrs.end() && instr->token == token; ++instr) {
        if (is_entry(*instr)) return &*instr;
    }
    return nullptr;
}

namespace {

// The deepest a guard's depth may be, the most room it takes and the most
// instructions it covers: a run that needs more is split in two.
constexpr std::int32_t most_needed = 1 << 24;
constexpr std::int32_t most_room = 1 << 24;
constexpr std::size_t most_covered = entry_flag - 1;

// Lays out the instructions: each straight run headed by the guard it needs,
// then the end of a call.
class Assembler {
public:
    explicit Assembler(Code& code) : code_(code) {}

    void add(const Emitted& emitted) {
        if (!emitted.straight) {
            not_straight_ = true;
            end_run();
            append(emitted);
            code_.instrs[code_.instrs.size() - emitted.size].aux |= entry_flag;
            single_balanced_run_ = false;
            return;
        }
        const std::int32_t need = std::max(need_, emitted.need - delta_);
        const std::int32_t room = std::max(room_, delta_ + emitted.room);
        const std::size_t covered = code_.instrs.size() - run_start_ + emitted.size + emitted.in_place.size();
        if (need > most_needed || room > most_room || (in_run_ && covered > most_covered)) end_run();
        if (!in_run_) {
            in_run_ = true;
            run_start_ = code_.instrs.size();
            ++runs_;
        }
        need_ = std::max(need_, emitted.need - delta_);
        room_ = std::max(room_, delta_ + emitted.room);
        delta_ += emitted.delta;
        append(emitted);
    }

    // The end of a call, at the token after the last.
    void finish(std::uint32_t size, Op end) {
        constexpr std::size_t most_in_place = 64;
        code_.straight = !not_straight_ && runs_ <= 1;
        code_.in_place = code_.straight && code_.instrs.size() <= most_in_place;
        end_run();
        code_.pass_start = single_balanced_run_ ? 1 : 0;
        code_.instrs.push_back({.op = end, .aux = entry_flag, .token = size, .operand = {}});
    }

private:
    void append(const Emitted& emitted) {
        code_.instrs.push_back(emitted.slots[0]);
        if (emitted.size == 2) code_.instrs.push_back(emitted.slots[1]);
        // A body run in place stands for its call's token, one call deeper.
        for (Instr instr : emitted.in_place) {
            instr.aux &= ~entry_flag;
            if (instr.op == Op::call_in_place) ++instr.aux;
            instr.token = emitted.slots[0].token;
            code_.instrs.push_back(instr);
        }
    }

    void end_run() {
        if (!in_run_) return;
        code_.need = need_;
        code_.delta = delta_;
        code_.room = room_;
        std::vector<Instr>& instrs = code_.instrs;
        const bool first_run = run_start_ == 0;
        const auto covered = static_cast<std::uint32_t>(instrs.size() - run_start_);
        const auto start = instrs.begin() + static_cast<std::ptrdiff_t>(run_start_);
        if (need_ > 0 || room_ > 0) {
            // Only the guard is an entry: the run must be entered at its head.
            instrs.insert(start, make_guard(need_, room_, covered, start->token));
            single_balanced_run_ = first_run && delta_ == 0;
        } else {
            // An unguarded run may be entered anywhere but at a second slot.
            for (auto instr = start; instr != instrs.end(); ++instr) {
                if (instr->op != Op::data) instr->aux |= entry_flag;
            }
            single_balanced_run_ = false;
        }
        in_run_ = false;
        need_ = delta_ = room_ = 0;
    }

    Code& code_;
    bool in_run_ = false;
    std::size_t run_start_ = 0;
    std::int32_t need_ = 0, delta_ = 0, room_ = 0;
    bool single_balanced_run_ = false;
    bool not_straight_ = false;
    int runs_ = 0;
};

std::unique_ptr<Code> compile(Context& ctx, ListNode& node, const Code* previous) {
    ctx.runtime.tokens_compiled += node.size();
    auto code = std::make_unique<Code>();
    code->node = &node;
    code->generation = ctx.runtime.generation;
    code->instrs.reserve(node.size() + 1);
    Assembler assembler(*code);
    compile_terms(ctx, node, *code, previous, [&assembler](const Emitted& emitted) { assembler.add(emitted); });
    // While places are tracked, a call at a list's end keeps the frame of
    // the list, which the chain of an error then shows.
    assembler.finish(static_cast<std::uint32_t>(node.size()), ctx.runtime.tracking ? Op::ret_kept : Op::ret);
    return code;
}

// The op that ends a list run in `role`.
Op end_of(Role role) {
    switch (role) {
        case Role::call:
            return Op::ret;
        case Role::times:
            return Op::times_back;
        case Role::body:
            return Op::to_condition;
        case Role::condition:
            return Op::repeat_test;
    }
    return Op::ret;
}

// The same instructions as `code`, ending as `role` says.
std::unique_ptr<Code> variant(Code& code, Role role) {
    auto made = std::make_unique<Code>();
    made->node = code.node;
    made->owner = &code;
    made->generation = code.generation;
    made->instrs = code.instrs;
    made->instrs.back().op = end_of(role);
    made->pass_head = made->instrs.data() + code.pass_start;
    return made;
}

// Where token `index` is looked up by an instruction of its own: null when
// it is inside another's run of tokens or construct.
Instr* instruction_at(Code& code, std::uint32_t index) {
    auto instr = std::lower_bound(code.instrs.begin(), code.instrs.end(), index,
                                  [](const Instr& each, std::uint32_t wanted) { return each.token < wanted; });
    for (; instr != code.instrs.end() && instr->token == index; ++instr) {
        if (instr->op != Op::guard && instr->op != Op::data) return &*instr;
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
bool repair(const Context& ctx, Code& code) {
    if (code.depends_on_all) return false;
    const auto& changes = ctx.runtime.changes;
    auto since = changes.begin();
    while (since != changes.end() && since->before != code.generation) ++since;
    if (since == changes.end()) return false;
    for (auto change = since; change != changes.end(); ++change) {
        const std::string& name = change->name;
        if (name.empty()) return false;
        if ((code.names & name_bit(name_hash(name))) == 0) continue;
        for (std::uint32_t index = 0; index < code.node->size(); ++index) {
            if (code.node->token(index) != name) continue;
            Instr* const call = instruction_at(code, index);
            if (call == nullptr || call->op != Op::call || ctx.aliases.contains(name)) return false;
            const auto word = ctx.words.find(name);
            const auto* user_word = word == ctx.words.end() ? nullptr : word->second.target<UserWord>();
            if (user_word == nullptr) return false;
            ListNode* const body = user_word->body.node() != nullptr ? user_word->body.node() : &empty_list();
            const auto at = call - code.instrs.data();
            call->operand.node = body;
            for (auto& made : code.variants) {
                if (made) made->instrs[static_cast<std::size_t>(at)].operand.node = body;
            }
        }
    }
    return true;
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
            node.entry = code->first();
            retire(std::move(old));
        }
        node.frozen = true;
    }
    return *code;
}

Code& make_variant(Code& code, Role role) {
    auto& made = code.variants[static_cast<std::size_t>(role)];
    if (!made) made = variant(code, role);
    return *made;
}

Code& repeat_loop(Code& body, const Code& condition) {
    if (body.loop && body.loop_condition == condition.serial) return *body.loop;
    auto loop = std::make_unique<Code>();
    loop->node = body.node;
    loop->owner = &body;
    loop->generation = body.generation;
    loop->second = condition.node;
    // The depth the body, then the condition, then the test of its result
    // need, and the room they take, checked once a pass, or once for all
    // passes when a pass leaves the depth as it found it.
    const std::int32_t need = std::max({body.need, condition.need - body.delta, 1 - body.delta - condition.delta});
    const std::int32_t room = std::max(body.room, body.delta + condition.room);
    const bool balanced = body.delta + condition.delta == 1;
    std::vector<Instr>& instrs = loop->instrs;
    instrs.push_back(make_guard(need, room, 0, 0));
    // Their instructions point at the lists the two codes hold, without
    // holding them: the loop runs only while both codes are current.
    const auto append = [&instrs](const Code& code) {
        const std::size_t guarded = code.instrs.front().op == Op::guard ? 1 : 0;
        for (std::size_t index = guarded; index + 1 < code.instrs.size(); ++index) {
            Instr instr = code.instrs[index];
            instr.aux &= ~entry_flag;
            instrs.push_back(instr);
        }
    };
    append(body);
    loop->split = instrs.size();
    append(condition);
    instrs.push_back({.op = Op::repeat_back,
                      .aux = 0,
                      .token = static_cast<std::uint32_t>(condition.node->size()),
                      .operand = {.number = 0}});
    loop->pass_head = instrs.data() + (balanced ? 1 : 0);
    body.loop = std::move(loop);
    body.loop_condition = condition.serial;
    return *body.loop;
}

ListNode& empty_list() {
    static ListNode* const node = [] {
        auto* made = new ListNode;
        ++made->references;  // kept for good
        made->frozen = true;
        return made;
    }();
    return *node;
}

Code& exit_code() {
    static Code* const code = [] {
        auto* made = new Code;  // kept for good
        made->instrs.push_back(exit_instruction);
        // Never current: a return that reaches such a frame looks at it.
        made->generation = std::numeric_limits<std::uint64_t>::max();
        return made;
    }();
    return *code;
}

}  // namespace forth
