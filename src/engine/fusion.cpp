#include "engine/fusion.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "core/user_word.hpp"
#include "engine/meaning.hpp"
#include "words/operations.hpp"

// Which tokens of a list run as one instruction, decided here alone. A
// list is first looked up term by term, each term one token (by its
// meaning, engine/meaning.hpp) or one whole construct; then the rules
// below, tried in order at each term, join a run of terms into one
// instruction. Each rule keeps to what its tokens one by one would do: an
// instruction that cannot (an operand outside its word's domain, a stack
// too shallow) fails as they would, or leaves them to run one by one.
namespace forth {

namespace {

// What one token, or one whole construct, is with today's tables.
struct Term {
    std::uint32_t first = 0, end = 0;  // the tokens it stands for
    Meaning::Kind kind = Meaning::Kind::none;
    const Builtin* row = nullptr;     // a built-in word or sigil; of a whole construct, its opening word
    double number = 0;
    double* variable = nullptr;       // a variable sigil's variable, when it exists
    ListNode* body = nullptr;         // a word defined in the language
    const Code* in_place = nullptr;   // its body's code, when the call runs it in place
    const Code* list_in_place = nullptr;  // of a whole list that a conditional runs: its code, when in place
    ListNode* list_call = nullptr;  // of a whole list that is a call of a word defined in the language: its body
    const Code* list_spliced = nullptr;  // of a whole list that a conditional runs: its code, when spliced in
    Word* word = nullptr;             // any other callable
    SigilHandler* handler = nullptr;  // any other sigil
    std::string name;                 // a sigil's name, a definition's name, a failing token
    bool whole = false;               // a whole construct, closed within the list
    TokenList list;                   // its tokens
    std::uint32_t classes = 0;        // those it is of (Class), a bit each

    bool is(Row which) const { return kind == Meaning::Kind::word && row == &forth::row(which); }
    bool is(Kind which) const { return kind == Meaning::Kind::word && row != nullptr && row->kind == which; }
    // A built-in word, or a variable sigil on its variable: what a row's op
    // can stand for.
    bool makes_ops() const {
        return (kind == Meaning::Kind::word && row != nullptr) || (kind == Meaning::Kind::sigil && variable != nullptr);
    }
};

// 1/d when dividing by d and multiplying by 1/d round alike for every
// dividend: when d is a power of two (a normal number whose fraction bits
// are all zero), whose reciprocal is then exact, so that both round the
// same real number once. Read from the bits, not by frexp, which alone
// would make the binary load the maths library at every start.
std::optional<double> exact_reciprocal(double divisor) {
    constexpr std::uint64_t fraction = (std::uint64_t{1} << 52) - 1;
    std::uint64_t bits = 0;
    std::memcpy(&bits, &divisor, sizeof bits);
    if (!std::isnormal(divisor) || (bits & fraction) != 0) return std::nullopt;
    return 1 / divisor;
}

// Whether a list may define a word or an alias itself: then every run
// would compile it anew if it ran calls in place, which depend on the
// bodies they stand for. A word of the token's name is found before any
// sigil, so `/mod` divides and defines nothing.
bool may_define(Context& ctx, const ListNode& node) {
    for (std::size_t index = 0; index < node.size(); ++index) {
        const std::string_view token = node.token(index);
        if (token == ";" || token == "interpret") return true;
        if (token.size() > 1 && (token[0] == ':' || token[0] == '/' || token[0] == '@') &&
            find_word(ctx, std::string(token)) == nullptr) {
            return true;
        }
    }
    return false;
}

// How many lists may be compiled inside one another, each to see whether
// the calls of the one outside may run it in place: compiling nests on the
// machine's stack, and a chain of words, each calling the one before and
// none compiled yet, is as long as a program makes it. A body this deep in
// would not fit in place anyway.
constexpr std::size_t most_compiled_inside = 16;

class Reader {
public:
    Reader(Context& ctx, const ListNode& node, Code& code, const Code* previous)
        : ctx_(ctx),
          node_(node),
          code_(code),
          previous_(previous),
          in_place_allowed_(!may_define(ctx, node) && !evaluator(ctx).tracking),
          being_compiled_(evaluator(ctx).being_compiled) {
        being_compiled_.push_back(&node);
    }
    ~Reader() { being_compiled_.pop_back(); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The term that begins at token `first`.
    Term term(std::uint32_t first) {
        Term term;
        term.first = first;
        term.end = first + 1;
        const std::string token(node_.token(first));
        const std::uint32_t hash = name_hash(token);
        code_.looked_up |= name_bit(hash);
        const Meaning meaning = meaning_of(ctx_, token, true, hash);
        code_.depends_on_all = code_.depends_on_all || meaning.aliased;
        term.kind = meaning.kind;
        switch (meaning.kind) {
            case Meaning::Kind::word:
                look_up_word(*meaning.word, term);
                break;
            case Meaning::Kind::sigil:
                look_up_sigil(*meaning.handler, meaning.token->substr(1), term);
                break;
            case Meaning::Kind::number:
                term.number = meaning.number;
                break;
            case Meaning::Kind::none:
                term.name = *meaning.token;
                break;
        }
        if (term.row != nullptr && (term.row->kind == Kind::opener || term.row->kind == Kind::opener_sigil)) {
            whole_construct(term);
            if (term.whole && term.row->construct == Construct::list && term.end < node_.size() &&
                (node_.token(term.end) == "iftrue" || node_.token(term.end) == "iffalse")) {
                ListNode& list = term.list.node() != nullptr ? *term.list.node() : empty_list(ctx_);
                term.list_in_place = in_place_code(list);
                if (term.list.size() == 1) term.list_call = called(term.list[0]);
                if (term.list_in_place == nullptr && term.list_call == nullptr) term.list_spliced = spliced_code(list);
            }
        }
        return term;
    }

private:
    void look_up_word(Word& word, Term& term) {
        if (const Builtin* row = row_of(word)) {
            term.row = row;
        } else if (const auto* user_word = word.target<UserWord>()) {
            ListNode* const body = user_word->body.node();
            term.body = body != nullptr ? body : &empty_list(ctx_);
            if (std::find(being_compiled_.begin(), being_compiled_.end(), term.body) == being_compiled_.end())
                term.in_place = in_place_code(*term.body);
        } else {
            term.word = &word;
        }
    }

    // The code of `list`, when a call of it may run its instructions in
    // place. They are copied in, and point at the lists its code holds,
    // without holding them: a code that held them could hold itself through
    // them. They live as long as that code, which only a change replaces,
    // and any change makes this code compile anew.
    const Code* in_place_code(ListNode& list) {
        if (!in_place_allowed_ || being_compiled_.size() >= most_compiled_inside) return nullptr;
        const Code& code = current_code(ctx_, list, Run::once);
        if (!code.in_place) return nullptr;
        code_.depends_on_all = true;
        return &code;
    }

    // The code of `list`, when a conditional may splice it in: it calls,
    // and depends on its calls' words as the list's own tokens do.
    const Code* spliced_code(ListNode& list) {
        if (!in_place_allowed_ || being_compiled_.size() >= most_compiled_inside) return nullptr;
        const Code& code = current_code(ctx_, list, Run::once);
        if (!code.spliceable) return nullptr;
        code_.depends_on_all = true;
        return &code;
    }

    // The body of the word defined in the language that `token`, alone in
    // a list, calls, if it is one: the call depends on its meaning as the
    // list's own tokens do.
    ListNode* called(std::string_view token) {
        const std::string name(token);
        const std::uint32_t hash = name_hash(name);
        const Meaning meaning = meaning_of(ctx_, name, true, hash);
        if (meaning.kind != Meaning::Kind::word || meaning.aliased) return nullptr;
        const auto* user_word = meaning.word->target<UserWord>();
        if (user_word == nullptr) return nullptr;
        code_.looked_up |= name_bit(hash);
        code_.depends_on_all = true;
        return user_word->body.node() != nullptr ? user_word->body.node() : &empty_list(ctx_);
    }

    void look_up_sigil(SigilHandler& handler, std::string name, Term& term) {
        term.row = row_of(handler);
        term.handler = &handler;
        if (term.row != nullptr && (term.row->kind == Kind::variable_sigil || term.row->kind == Kind::fetch_sigil)) {
            if (const auto variable = ctx_.variables.find(name); variable != ctx_.variables.end())
                term.variable = &variable->second;
        }
        term.name = std::move(name);
    }

    // An opening word whose closing word follows in the same list, while
    // that is the built-in one, does in one instruction what collecting
    // token by token does.
    void whole_construct(Term& term) {
        Scan& scan = scan_for(term.row->closer);
        if (!scan.built_in) return;
        const std::uint32_t last = next_closer(scan, term.first + 1);
        if (last == node_.size()) return;  // stays open after the list: collected token by token
        term.whole = true;
        term.end = last + 1;
        code_.looked_up |= name_bit(name_hash(scan.closer));
        // Compiled again after a change elsewhere: the same tokens, kept,
        // with what they compiled to.
        if (previous_ != nullptr) {
            // Both in the order of their tokens: the search goes on from the last.
            const auto& kept = previous_->constructs;
            while (kept_ < kept.size() && kept[kept_].first < term.first) ++kept_;
            if (kept_ < kept.size() && kept[kept_].first == term.first && kept[kept_].end == term.end) {
                term.list = kept[kept_].list;
                return;
            }
        }
        for (std::uint32_t position = term.first + 1; position < last; ++position) {
            if (node_.origins.empty()) {
                term.list.push_back(node_.token(position));
            } else {
                term.list.push_back(node_.token(position), node_.origin(position));
            }
        }
    }

    // Of each closing word: whether it is the built-in one, and where the
    // last search for it in the list found it.
    struct Scan {
        std::string_view closer;
        bool built_in;
        std::uint32_t found;
    };

    Scan& scan_for(std::string_view closer) {
        for (Scan& scan : scans_) {
            if (scan.closer == closer) return scan;
        }
        const auto closing = ctx_.words.find(std::string(closer));
        const Builtin* const row = closing == ctx_.words.end() ? nullptr : row_of(closing->second);
        return scans_.emplace_back(Scan{closer, row != nullptr && row->name == closer, 0});
    }

    // Where the first of the scan's closing word at or after `from` is, or
    // the list's end. Terms are read in order, so each search goes on from
    // where the last one ended: a list is read once per closing word, not
    // once per opening word.
    std::uint32_t next_closer(Scan& scan, std::uint32_t from) {
        if (from <= scan.found) return scan.found;
        const auto size = static_cast<std::uint32_t>(node_.size());
        scan.found = from;
        while (scan.found < size && node_.token(scan.found) != scan.closer) ++scan.found;
        return scan.found;
    }

    Context& ctx_;
    const ListNode& node_;
    Code& code_;
    const Code* previous_;
    bool in_place_allowed_;
    // The lists being compiled, inside one another: a call of one of them
    // cannot run in place.
    std::vector<const ListNode*>& being_compiled_;
    std::vector<Scan> scans_;
    std::size_t kept_ = 0;  // the next of the previous code's constructs to look at
};

// What the rules match a term against.
#define TOLVA_CLASSES(X)                                                                   \
    X(number)       /* a number */                                                         \
    X(variable)     /* $v, its variable found */                                           \
    X(negation)     /* not */                                                              \
    X(dup)          /* dup */                                                              \
    X(over)         /* over */                                                             \
    X(quote)        /* a whole [ ... ] or { ... } */                                       \
    X(short_quote)  /* one before iftrue or iffalse, its list one short straight run */    \
    X(quote_call)   /* one before iftrue or iffalse, its list a call of a word defined */  \
    X(spliced_quote) /* one before iftrue or iffalse, its list short, with calls */        \
    X(conditional)  /* iftrue or iffalse */                                                \
    X(times)        /* times */                                                            \
    X(control)      /* any control word */                                                 \
    X(loop_setup)   /* while or until */                                                   \
    X(repeat)       /* repeat */                                                           \
    X(short_call)   /* a call of a word whose body is one short straight run */            \
    X(minus_rot)    /* -rot */                                                             \
    X(plus)         /* + */                                                                \
    X(swap)         /* swap */                                                             \
    X(in_form)      /* a built-in word, or a variable sigil on its variable, that has the rule's form */
enum class Class : std::uint8_t {
#define TOLVA_CLASS(name) name,
    TOLVA_CLASSES(TOLVA_CLASS)
#undef TOLVA_CLASS
};
constexpr std::string_view class_names[] = {
#define TOLVA_CLASS(name) #name,
    TOLVA_CLASSES(TOLVA_CLASS)
#undef TOLVA_CLASS
};

bool matches(Class c, const Term& term) {
    switch (c) {
        case Class::number:
            return term.kind == Meaning::Kind::number;
        case Class::variable:
            return term.kind == Meaning::Kind::sigil && term.variable != nullptr &&
                   term.row->kind == Kind::fetch_sigil;
        case Class::negation:
            return term.is(Row::logical_not);
        case Class::dup:
            return term.is(Row::dup);
        case Class::over:
            return term.is(Row::over);
        case Class::quote:
            return term.whole && term.row->construct == Construct::list;
        case Class::short_quote:
            return term.list_in_place != nullptr;
        case Class::quote_call:
            return term.list_call != nullptr;
        case Class::spliced_quote:
            return term.list_spliced != nullptr;
        case Class::conditional:
            return term.is(Row::iftrue) || term.is(Row::iffalse);
        case Class::times:
            return term.is(Row::times);
        case Class::control:
            return term.is(Kind::control);
        case Class::loop_setup:
            return term.is(Row::while_loop) || term.is(Row::until_loop);
        case Class::repeat:
            return term.is(Row::repeat);
        case Class::short_call:
            return term.in_place != nullptr;
        case Class::minus_rot:
            return term.is(Row::minus_rot);
        case Class::plus:
            return term.is(Row::add);
        case Class::swap:
            return term.is(Row::swap);
        case Class::in_form:
            return term.makes_ops();
    }
    return false;
}

std::uint32_t bit(Class c) { return std::uint32_t{1} << static_cast<unsigned>(c); }

std::uint32_t classes_of(const Term& term) {
    std::uint32_t classes = 0;
    for (std::size_t c = 0; c < std::size(class_names); ++c) {
        if (matches(static_cast<Class>(c), term)) classes |= bit(static_cast<Class>(c));
    }
    return classes;
}

class Builder;
using Make = Emitted (Builder::*)(std::span<const Term> terms, Form form);

struct Rule {
    std::string name;
    std::vector<Class> pattern;
    Make make;
    Form form = Form::count;  // of a rule that makes a row's op in a form
};

// Builds instructions from terms, filling the code's side tables.
class Builder {
public:
    Builder(Code& code, ListNode& empty, bool profiled) : code_(code), empty_(empty), profiled_(profiled) {}

    // A term alone.
    Emitted single(const Term& term) {
        if (term.whole) return construct(term);
        switch (term.kind) {
            case Meaning::Kind::number:
                return make(term, Op::number, {.number = term.number});
            case Meaning::Kind::none:
                return make(term, Op::fail, {.named = named(term)});
            case Meaning::Kind::sigil:
                if (term.variable != nullptr) return form(std::span<const Term>(&term, 1), Form::alone);
                if (term.row != nullptr &&
                    (term.row->kind == Kind::variable_sigil || term.row->kind == Kind::fetch_sigil))
                    return make(term, Op::variable_sigil, {.named = named(term)});
                return make(term, Op::sigil, {.named = named(term)});
            case Meaning::Kind::word:
                break;
        }
        if (term.body != nullptr) return cached(make(term, Op::call, {.node = term.body}));
        if (term.row == nullptr) return make(term, Op::word, {.word = term.word});
        switch (term.row->kind) {
            case Kind::effect:
                return make(term, Op::native, {.native = term.row->word});
            case Kind::control:
                return make(term, Op::control, {.enter = term.row->enter});
            case Kind::opener:
            case Kind::change:
                return make(term, Op::native_change, {.native = term.row->word});
            default:
                return form(std::span<const Term>(&term, 1), Form::alone);
        }
    }

    // The makers the rules name.

    // A row's op in `form`: the copy, the operands and the word of the
    // terms, and `not` after.
    Emitted form(std::span<const Term> terms, Form form) {
        const FormInfo& made = info(form);
        const auto at = static_cast<std::size_t>(before_word(made));
        const Term& word = terms[at];
        const Op op = op_of(row_number(*word.row), form);
        if (made.branch != Branch::none) return branch(terms, made, op);
        if (made.operand == Operand::number && word.is(Row::divide)) {
            if (const auto factor = exact_reciprocal(terms[at - 1].number)) {
                // x / 2^k is x * 2^-k to the last bit, and a product is
                // ready in a third of the time of a quotient.
                Emitted emitted = make(terms, op_of(Row::multiply, form), {.number = *factor});
                emitted.row = &row(Row::multiply);
                return emitted;
            }
        }
        Emitted emitted{};
        if (word.kind == Meaning::Kind::sigil) {
            // A variable sigil's variable is its own; the number before it, its operand.
            emitted = make(terms, op, {.variable = word.variable});
            if (made.operand == Operand::number) {
                emitted.slots[1] = slot(terms.front(), Op::data, {.number = terms[at - 1].number});
                emitted.size = 2;
            }
        } else if (made.operand == Operand::number) {
            emitted = make(terms, op, {.number = terms[at - 1].number});
        } else if (made.operand == Operand::variable) {
            emitted = make(terms, op, {.variable = terms[at - 1].variable});
        } else if (made.operand == Operand::variable_number) {
            emitted = make(terms, op, {.variable = terms[at - 2].variable});
            emitted.slots[1] = slot(terms.front(), Op::data, {.number = terms[at - 1].number});
            emitted.size = 2;
        } else {
            emitted = make(terms, op, {.number = 0});
        }
        emitted.row = word.row;
        return emitted;
    }

    // A comparison and the conditional after it: the slots of the form's
    // operand, of where to go past the list, of the list, and of the number
    // after a variable; then the list's instructions.
    Emitted branch(std::span<const Term> terms, const FormInfo& made, Op op) {
        const auto at = static_cast<std::size_t>(before_word(made));
        const Term& quote = terms[terms.size() - 2];
        Emitted emitted = conditional_laid_in(terms, op);
        const bool two = made.operand == Operand::variable_number;
        if (made.operand == Operand::number) emitted.slots[0].operand.number = terms[at - 1].number;
        if (made.operand == Operand::variable || two)
            emitted.slots[0].operand.variable = terms[at - (two ? 2 : 1)].variable;
        emitted.size = two ? 4 : 3;
        emitted.slots[1].operand.laid.skip = static_cast<std::int32_t>(emitted.size + emitted.in_place.size());
        emitted.slots[2] = slot(terms.front(), Op::data, {.node = held(quote)});
        if (two) emitted.slots[3] = slot(terms.front(), Op::data, {.number = terms[at - 1].number});
        emitted.row = terms[at].row;
        return emitted;
    }

    // A call whose body runs in place: where it begins, then the body's
    // instructions but its guard and its end.
    Emitted in_place(std::span<const Term> terms, Form) {
        const Code& body = *terms[0].in_place;
        Emitted emitted = laid_in(terms[0], Op::call_in_place, body);
        if (!profiled_) return emitted;
        if (std::unique_ptr<CountedCalls> counted = counted_calls(body, *terms[0].body)) {
            emitted.slots[0].op = Op::call_in_place_counted;
            emitted.slots[1] = slot(terms[0], Op::data, {.counted = counted.get()});
            emitted.size = 2;
            emitted.counted = true;
            code_.counted.push_back(std::move(counted));
        } else {
            emitted.slots[0].op = Op::call_in_place_marked;
            emitted.slots[1] = slot(terms[0], Op::data, {.node = terms[0].body});
            emitted.slots[2] = slot(terms[0], Op::data, {.profiled = {.below = UINT32_MAX, .stack = 0}});
            emitted.size = 3;
            emitted.marked = true;
        }
        return emitted;
    }

    // Of the ops of a conditional's rule, the one its terms make: with dup
    // or without, for iftrue or iffalse.
    static Op conditional(std::span<const Term> terms, Op dup_iftrue, Op dup_iffalse, Op iftrue, Op iffalse) {
        const bool when = terms.back().is(Row::iftrue);
        return terms.size() == 3 ? (when ? dup_iftrue : dup_iffalse) : (when ? iftrue : iffalse);
    }

    Emitted quote_if(std::span<const Term> terms, Form) {
        const Op op = conditional(terms, Op::dup_quote_iftrue, Op::dup_quote_iffalse, Op::quote_iftrue, Op::quote_iffalse);
        return cached(make(terms.front(), op, {.node = held(terms[terms.size() - 2])}));
    }

    // The instructions of the list before the conditional that ends
    // `terms` follow the op, skipped when the flag says so.
    Emitted conditional_laid_in(std::span<const Term> terms, Op op) {
        Emitted emitted = laid_in(terms.front(), op, *terms[terms.size() - 2].list_in_place);
        // A list that changes the depth leaves it as the flag says: what
        // follows is checked anew.
        emitted.ends_run = emitted.body.delta != 0;
        return emitted;
    }

    Emitted quote_if_in_place(std::span<const Term> terms, Form) {
        const Op op = conditional(terms, Op::dup_quote_iftrue_in_place, Op::dup_quote_iffalse_in_place,
                                  Op::quote_iftrue_in_place, Op::quote_iffalse_in_place);
        Emitted emitted = conditional_laid_in(terms, op);
        emitted.slots[0].operand.node = held(terms[terms.size() - 2]);
        return emitted;
    }

    // The word's body, entered at once; the list's own call when that
    // cannot be (engine/machine.cpp).
    Emitted quote_if_call(std::span<const Term> terms, Form) {
        const Term& quote = terms[terms.size() - 2];
        const Op op = conditional(terms, Op::dup_quote_iftrue_call, Op::dup_quote_iffalse_call, Op::quote_iftrue_call,
                                  Op::quote_iffalse_call);
        Emitted emitted = make(terms.front(), op, {.node = held(quote)});
        emitted.slots[1] = slot(terms.front(), Op::data, {.node = quote.list_call});
        emitted.size = 2;
        return cached(emitted);
    }

    // The list's instructions follow in a frame of its own, skipped when the
    // flag says so (engine/code.cpp).
    Emitted quote_if_spliced(std::span<const Term> terms, Form) {
        const Term& quote = terms[terms.size() - 2];
        const Op op = conditional(terms, Op::dup_quote_iftrue_spliced, Op::dup_quote_iffalse_spliced,
                                  Op::quote_iftrue_spliced, Op::quote_iffalse_spliced);
        ListNode* const list = held(quote);
        Emitted emitted = make(terms.front(), op, {.node = list});
        emitted.slots[1] = slot(terms.front(), Op::data, {.laid = {0, 0}});
        emitted.size = 2;
        emitted.body = quote.list_spliced->first_reach;
        emitted.spliced = quote.list_spliced;
        emitted.spliced_list = list;
        return emitted;
    }

    Emitted quote_times(std::span<const Term> terms, Form) {
        return make(terms.front(), Op::quote_times, {.node = held(terms[0])});
    }

    Emitted quote_control(std::span<const Term> terms, Form) {
        Emitted emitted = make(terms.front(), Op::quote_control, {.node = held(terms[0])});
        emitted.slots[1] = slot(terms.front(), Op::data, {.enter = terms[1].row->enter});
        emitted.size = 2;
        emitted.row = terms[1].row;
        return emitted;
    }

    Emitted add_under(std::span<const Term> terms, Form) { return make(terms.front(), Op::add_under, {.number = 0}); }

    Emitted while_repeat(std::span<const Term> terms, Form) {
        const Op op = terms[1].is(Row::until_loop) ? Op::until_repeat : Op::while_repeat;
        Emitted emitted = make(terms.front(), op, {.node = held(terms[0])});
        emitted.slots[1] = slot(terms.front(), Op::data, {.node = held(terms[2])});
        emitted.size = 2;
        return emitted;
    }

private:
    // What a profile counts for a call of `node`, whose code is `body`, run
    // in place: known when it runs straight through, as a body does that
    // skips nothing and has only such calls in place. The calls in place
    // inside it are counted with it, so they are laid in as plain ones,
    // without their second slot (Assembler::append).
    static std::unique_ptr<CountedCalls> counted_calls(const Code& body, const ListNode& node) {
        auto made = std::make_unique<CountedCalls>();
        made->calls.push_back({.body = &node, .parent = UINT32_MAX, .steps = 0});
        const std::size_t first = body.instrs.front().op == Op::guard ? 1 : 0;
        for (std::size_t index = first; index + 1 < body.instrs.size(); ++index) {
            const Instr& instr = body.instrs[index];
            ++made->length;
            if (is_slot(instr.op)) continue;  // an operand's slot, never run
            if (forth::laid_in(instr.op) && instr.op != Op::call_in_place_counted) return nullptr;
            ++made->calls.front().steps;
            if (instr.op != Op::call_in_place_counted) continue;
            const CountedCalls& inner = *body.instrs[index + 1].operand.counted;
            const auto base = static_cast<std::uint32_t>(made->calls.size());
            for (CountedCalls::Call call : inner.calls) {
                call.parent = call.parent == UINT32_MAX ? 0 : call.parent + base;
                made->calls.push_back(call);
            }
            made->length += inner.length;
            index += 1 + inner.length;
        }
        for (const CountedCalls::Call& call : made->calls) made->steps += call.steps;
        return made;
    }

    // An op that stands for a call of `body`, with the body's instructions
    // after it but its guard and its end; the op's own second slot, if it
    // has one, says how far past them it goes on.
    static Emitted laid_in(const Term& term, Op op, const Code& body) {
        Emitted emitted = make(term, op, {.number = 0});
        emitted.slots[0].calls = 1;
        emitted.body = body.reach;
        const std::size_t guarded = body.instrs.front().op == Op::guard ? 1 : 0;
        emitted.in_place = std::span<const Instr>(body.instrs).subspan(guarded, body.instrs.size() - guarded - 1);
        if (op != Op::call_in_place) {
            emitted.slots[1] = slot(term, Op::data, {.laid = {static_cast<std::int32_t>(2 + emitted.in_place.size()), 0}});
            emitted.size = 2;
        }
        return emitted;
    }

    // The slots in which an op that calls a list keeps the code it last
    // entered and where (engine/machine.cpp), after its own.
    static Emitted cached(Emitted emitted) {
        const Instr& head = emitted.slots[0];
        emitted.slots[emitted.size++] = {.op = Op::data, .entry = false, .calls = 0, .token = head.token, .operand = {.code = &nothing_entered}};
        emitted.slots[emitted.size++] = {.op = Op::data, .entry = false, .calls = 0, .token = head.token, .operand = {.instr = nullptr}};
        return emitted;
    }

    static Instr slot(const Term& term, Op op, Instr::Operand operand) {
        return {.op = op, .entry = false, .calls = 0, .token = term.first, .operand = operand};
    }

    static Emitted make(std::span<const Term> terms, Op op, Instr::Operand operand) {
        Emitted emitted;
        emitted.slots[0] = slot(terms.front(), op, operand);
        emitted.row = terms.front().row;
        return emitted;
    }
    static Emitted make(const Term& term, Op op, Instr::Operand operand) {
        return make(std::span<const Term>(&term, 1), op, operand);
    }

    Emitted construct(const Term& term) {
        switch (term.row->construct) {
            case Construct::list:
                return make(term, Op::quote, {.node = held(term)});
            case Construct::text:
                return make(term, Op::string, {.node = held(term)});
            case Construct::comment:
                return make(term, Op::comment, {.node = nullptr});
            default: {
                Emitted emitted = make(term, Op::define, {.named = named(term)});
                emitted.slots[1] = slot(term, Op::data, {.node = held(term)});
                emitted.size = 2;
                return emitted;
            }
        }
    }

    // The construct's list, kept by the code; the empty list for none.
    ListNode* held(const Term& term) {
        code_.constructs.push_back({term.first, term.end, term.list});
        ListNode* const node = term.list.node();
        return node != nullptr ? node : &empty_;
    }

    Named* named(const Term& term) {
        Named& made = *code_.named.emplace_back(std::make_unique<Named>());
        made.name = term.name;
        made.handler = term.handler;
        made.row = term.row;
        return &made;
    }

    Code& code_;
    ListNode& empty_;  // held for an empty construct
    // A profile counts the calls run in place: each names its body, in a
    // slot of its own, keeps what it was last in a third, and an op marks
    // where the body ends.
    bool profiled_;
};

// The fusion rules, tried in this order at each term, the longest first;
// the first that matches makes the instruction. A row's op in each form
// but alone (engine/forms.def) has a rule made from the form; adding any
// other fusion is adding a rule here, and its op in engine/ops.def.
const std::vector<Rule>& rules() {
    static const std::vector<Rule> made = [] {
        using C = Class;
        std::vector<Rule> list = {
            {"quote loop quote repeat", {C::quote, C::loop_setup, C::quote, C::repeat}, &Builder::while_repeat},
            {"dup short quote if", {C::dup, C::short_quote, C::conditional}, &Builder::quote_if_in_place},
            {"short quote if", {C::short_quote, C::conditional}, &Builder::quote_if_in_place},
            {"dup quote call if", {C::dup, C::quote_call, C::conditional}, &Builder::quote_if_call},
            {"quote call if", {C::quote_call, C::conditional}, &Builder::quote_if_call},
            {"dup spliced quote if", {C::dup, C::spliced_quote, C::conditional}, &Builder::quote_if_spliced},
            {"spliced quote if", {C::spliced_quote, C::conditional}, &Builder::quote_if_spliced},
            {"dup quote if", {C::dup, C::quote, C::conditional}, &Builder::quote_if},
            {"quote if", {C::quote, C::conditional}, &Builder::quote_if},
            {"quote times", {C::quote, C::times}, &Builder::quote_times},
            {"quote control", {C::quote, C::control}, &Builder::quote_control},
            {"call in place", {C::short_call}, &Builder::in_place},
            {"add under", {C::minus_rot, C::plus, C::swap}, &Builder::add_under},
        };
        for (std::size_t index = 0; index < static_cast<std::size_t>(Form::count); ++index) {
            const auto form = static_cast<Form>(index);
            const FormInfo& made = info(form);
            if (form == Form::alone) continue;
            Rule rule{std::string("form ") + made.name, {}, &Builder::form, form};
            if (made.copy == Copy::tuck) rule.pattern.push_back(C::swap);
            if (made.copy != Copy::none) rule.pattern.push_back(made.copy == Copy::dup ? C::dup : C::over);
            if (made.operand == Operand::variable || made.operand == Operand::variable_number)
                rule.pattern.push_back(C::variable);
            if (made.operand == Operand::number || made.operand == Operand::variable_number)
                rule.pattern.push_back(C::number);
            rule.pattern.push_back(C::in_form);
            if (made.negated) rule.pattern.push_back(C::negation);
            if (made.branch != Branch::none) {
                if (keeps_flag(made.branch)) rule.pattern.push_back(C::dup);
                rule.pattern.push_back(C::short_quote);
                rule.pattern.push_back(C::conditional);
            }
            list.push_back(std::move(rule));
        }
        std::stable_sort(list.begin(), list.end(),
                         [](const Rule& one, const Rule& other) { return one.pattern.size() > other.pattern.size(); });
        return list;
    }();
    return made;
}

// Whether the number a form's word takes as y is one its row's domain holds,
// so that its op need not check it; with another, the tokens run apart and
// the word fails as written.
bool operand_fits(Form form, std::span<const Term> terms) {
    const FormInfo& made = info(form);
    if (made.operand != Operand::number && made.operand != Operand::variable_number) return true;
    const auto at = static_cast<std::size_t>(before_word(made));
    const double y = terms[at - 1].number;
    switch (row_number(*terms[at].row)) {
#define TOLVA_DOMAIN_CASE(id, domain) \
    case Row::id:                      \
        return operation::domain::operand_holds(y);
#define BINARY(name, id, result, domain) TOLVA_DOMAIN_CASE(id, domain)
#define BINARY2(name, id, first, second, domain) TOLVA_DOMAIN_CASE(id, domain)
#define TOLVA_ROW(kind, name, id)
#include "words/vocabulary.def"
#undef TOLVA_DOMAIN_CASE
        default:
            return true;
    }
}

// Whether `terms` are what `rule` matches: each of its class, the word of
// a form rule one that has the form, and a branch's conditional its own.
bool matched(const Rule& rule, std::span<const Term> terms) {
    for (std::size_t index = 0; index < rule.pattern.size(); ++index) {
        const Class c = rule.pattern[index];
        if ((terms[index].classes & bit(c)) == 0) return false;
        if (c == Class::in_form && op_of(row_number(*terms[index].row), rule.form) == Op::count) return false;
        if (c == Class::conditional && rule.form != Form::count &&
            terms[index].is(Row::iftrue) != runs_on_true(info(rule.form).branch))
            return false;
    }
    return rule.form == Form::count || operand_fits(rule.form, terms);
}

}  // namespace

std::vector<RuleDescription> fusion_rules() {
    std::vector<RuleDescription> described;
    for (const Rule& rule : rules()) {
        RuleDescription& description = described.emplace_back();
        description.name = rule.name;
        for (const Class c : rule.pattern) description.pattern.emplace_back(class_names[static_cast<std::size_t>(c)]);
    }
    return described;
}

void compile_terms(Context& ctx, const ListNode& node, Code& code, const Code* previous,
                   const std::function<void(const Emitted&)>& emit) {
    Reader reader(ctx, node, code, previous);
    Builder builder(code, empty_list(ctx), evaluator(ctx).profiler != nullptr);
    // While places are tracked, each instruction stands for one token (or
    // one whole construct), so that an error names its own.
    const std::span<const Rule> tried = evaluator(ctx).tracking ? std::span<const Rule>() : std::span<const Rule>(rules());
    // A few terms ahead, read as the rules need them.
    std::vector<Term> ahead;
    std::uint32_t next = 0;
    const auto fill = [&](std::size_t count) {
        while (ahead.size() < count && next < node.size()) {
            ahead.push_back(reader.term(next));
            ahead.back().classes = classes_of(ahead.back());
            next = ahead.back().end;
        }
    };
    for (;;) {
        fill(1);
        if (ahead.empty()) break;
        const Rule* chosen = nullptr;
        for (const Rule& rule : tried) {
            if ((ahead.front().classes & bit(rule.pattern.front())) == 0) continue;
            fill(rule.pattern.size());
            if (ahead.size() >= rule.pattern.size() && matched(rule, ahead)) {
                chosen = &rule;
                break;
            }
        }
        std::size_t taken = 1;
        if (chosen != nullptr) {
            taken = chosen->pattern.size();
            emit((builder.*chosen->make)(std::span<const Term>(ahead.data(), taken), chosen->form));
            if (const auto matched = on_rule_matched.load(std::memory_order_relaxed)) matched(chosen->name);
        } else {
            emit(builder.single(ahead.front()));
        }
        ahead.erase(ahead.begin(), ahead.begin() + static_cast<std::ptrdiff_t>(taken));
    }
}

}  // namespace forth
