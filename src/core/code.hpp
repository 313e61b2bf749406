#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/context.hpp"

namespace forth {

struct Builtin;

// What a token does when it is reached outside an open construct, as found
// by looking it up once. The ops up to call_leaf run straight on: they cannot
// open a construct, change the tables or push a frame (runs_straight_on).
enum class Op : std::uint8_t {
    push_number,
    fetch_variable,   // pointers into the variable table, which never loses an entry
    change_variable,  // = + - on a variable that exists
    straight,         // a built-in word that runs straight on
    construct,        // a whole [ ... ], { ... }, ( ... ) or /* ... */
    variable_sigil,   // a variable sigil whose variable did not exist yet
    enter_call,       // where a call laid out in line begins (see FlatBody)
    quote_leaf,       // a quote_then whose control word runs it in place, its steps all running straight on
    call_leaf,        // a user word whose steps all run straight on: no frame needed
    native,           // any other built-in word
    control,          // a built-in word that runs a list (times, iftrue, execute, ...)
    quote_then,       // a whole [ ... ] or { ... } and the control word after it
    call_user,        // a word defined in the language
    call_word,        // any other callable in the dictionary
    sigil,            // any other sigil
    define,           // a whole :name ... ;
    fail,             // no word, sigil or number: resolving it throws
};

struct Step;
struct FlatBody;

// What the evaluator does after a step.
enum class Next : std::uint8_t {
    // Runs the next step at once: the step cannot have opened a construct,
    // changed the dictionary or the aliases, or pushed a frame.
    follow,
    // Looks at its state again first.
    look,
    // Goes on in the top frame: the step did nothing but enter a call.
    enter,
};

// Runs a step.
using StepHandler = Next (*)(Context&, Step&);

// What only some steps have: constructs, sigils, failing tokens and calls
// laid out in line. Kept apart, so that the steps of a long list stay small;
// copies of a step share it.
struct StepDetail {
    TokenList list;    // a construct's tokens
    std::string name;  // a sigil's name, a failing token, a definition's name
    std::unique_ptr<FlatBody> flat;  // a call_leaf's steps, with the calls in them laid out in line
    std::size_t references = 0;
};

struct Step {
    StepHandler run = nullptr;
    std::uint32_t next = 0;       // index of the token after this step
    Op op = Op::fail;
    bool through_alias = false;   // found by expanding an alias
    bool last = false;            // the list's last step: a call here may take over the frame
    bool holds_detail = false;    // which of the two the last union holds
    std::uint64_t generation = 0; // of the tables it was looked up in; 0: not yet
    union {
        double* variable;
        void (*native)(Context&);  // a built-in word, or the closing word of a whole construct
        void (*sigil_native)(Context&, const std::string&);
        Word* word;
        SigilHandler* handler;
        // A user word's body. Not a counted reference, which a word that
        // calls itself would make a cycle of: the dictionary keeps the body
        // alive as long as the step is current, and a call holds it.
        ListNode* body;
    };
    // The vocabulary's row for what the step runs: a built-in word or
    // sigil, a construct's opening word, the control word after a quote.
    const Builtin* row = nullptr;

    Step() : variable(nullptr) {}
    Step(const Step& other);
    Step& operator=(const Step& other);
    ~Step();

    // A number step's value, or the number a run of tokens fused with it;
    // such steps have no detail.
    double number() const { return value_.number; }
    void set_number(double number);
    // The parts of StepDetail; empty when the step has none.
    const TokenList& list() const { return holds_detail ? value_.detail->list : no_list; }
    const std::string& name() const { return holds_detail ? value_.detail->name : no_name; }
    FlatBody* flat() const { return holds_detail ? value_.detail->flat.get() : nullptr; }
    // The step's own detail, made on first use.
    StepDetail& detail();

private:
    void release();

    static inline const TokenList no_list;
    static inline const std::string no_name;

    // A step never needs both, so they share their place.
    union {
        double number;
        StepDetail* detail;
    } value_ = {0};
};

// The steps that a call of a word needing no frame runs: its own, and in
// place of each call in them, an enter_call step and the called word's
// steps. `depth` is how deep the calls in it nest.
struct FlatBody {
    std::vector<Step> steps;
    std::size_t depth = 0;
};

// The steps of a token list, one per token, each valid while the dictionary
// and the aliases stay as they were when it was compiled. A step that stands for a
// whole construct sits at the construct's first token; the tokens inside
// keep steps of their own, for a run that reaches them another way.
struct Code {
    std::vector<Step> steps;
    bool searching = false;  // its steps are being compiled to see whether a call needs a frame
    // The generation in which all its steps were last found to run straight
    // on; 0 when they were not.
    std::uint64_t straight_at = 0;
};

// What the standard string-to-double conversion makes of a token: the value
// of its longest leading number, whether there is one, and whether it fits.
struct LeadingNumber {
    double value;
    bool found;
    bool in_range;
};
LeadingNumber leading_number(const std::string& token);

// The step for one token, looked up in the current tables; nothing changes.
Step compile_token(Context& ctx, const std::string& token, bool expand_aliases);

// Looks up the token at `index` of `node` again, into `step`, with the
// tokens after it that it runs as one step (see fuse.hpp).
void compile_step(Context& ctx, ListNode& node, std::uint32_t index, Step& step);

// The compiled form of `node`, made on first use with every step still to
// be looked up.
inline Code& code_of(ListNode& node) {
    if (!node.code) {
        node.code = std::make_unique<Code>();
        node.code->steps.resize(node.size());
    }
    return *node.code;
}

// The steps of a list that has run, all current and running straight on,
// to run one after another with nothing looked at between them.
class StraightSteps {
public:
    explicit StraightSteps(const ListNode* node)
        : steps_(node != nullptr ? node->code->steps.data() : nullptr),
          size_(node != nullptr ? static_cast<std::uint32_t>(node->size()) : 0) {}

    void run(Context& ctx) const {
        for (std::uint32_t pc = 0; pc < size_;) {
            Step& step = steps_[pc];
            pc = step.next;
            step.run(ctx, step);
        }
    }

    // The one step that covers the whole list, or null.
    Step* only() const { return size_ != 0 && steps_[0].next == size_ ? steps_ : nullptr; }

private:
    Step* steps_;
    std::uint32_t size_;
};

// True for the steps after which the next may follow at once.
inline bool runs_straight_on(Op op) { return op <= Op::call_leaf; }

// Makes a step that the tables have changed under valid again: kept when
// no change since touched a name it looked up, compiled anew otherwise.
void refresh_step(Context& ctx, ListNode& node, std::uint32_t index, Step& step);

// Once a variable sigil has found or created its variable, its step holds
// the variable itself.
void settle_variable(Context& ctx, Step& step);

}  // namespace forth
