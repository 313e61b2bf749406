#include "engine/fusion.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>

#include "core/user_word.hpp"
#include "engine/driver.hpp"

// Which tokens of a list run as one instruction, decided here alone. A
// list is first looked up term by term, each term one token or one whole
// construct; then the rules below, tried in order at each term, join a run
// of terms into one instruction. Each rule keeps to what its tokens one by
// one would do: an instruction that cannot (an operand outside its word's
// domain, a stack too shallow) runs its tokens one by one instead.
namespace forth {

namespace {

// What one token, or one whole construct, is with today's tables.
struct Term {
    enum class Shape : std::uint8_t {
        number,          // pushes `number`
        fetch,           // $v, its variable found
        change,          // = + - on a variable found
        variable_sigil,  // = + - $ on a variable not there yet
        builtin,         // a built-in word: `row`
        call,            // a word defined in the language: `body`
        word,            // any other callable in the dictionary
        sigil,           // any other sigil
        construct,       // a whole construct; `row` is its opening word
        fail,            // nothing: resolving it throws
    };
    Shape shape = Shape::fail;
    std::uint32_t first = 0, end = 0;  // the tokens it stands for
    const Builtin* row = nullptr;
    double number = 0;
    double* variable = nullptr;
    ListNode* body = nullptr;
    const Code* in_place = nullptr;  // a call's body, when it runs in place
    Word* word = nullptr;
    SigilHandler* handler = nullptr;
    std::string name;  // a sigil's name, a definition's name, a failing token
    TokenList list;    // a construct's tokens
    std::uint32_t classes = 0;  // the classes of terms it is of, a bit each (Class)

    bool is(Row which) const { return shape == Shape::builtin && row == &forth::row(which); }
    bool is(Kind kind) const { return shape == Shape::builtin && row->kind == kind; }
};

// Whether a list may define a word or an alias itself: then every run
// would compile it anew if it ran calls in place, which depend on the
// bodies they stand for.
bool may_define(const ListNode& node) {
    for (std::size_t index = 0; index < node.size(); ++index) {
        const std::string_view token = node.token(index);
        if (token == ";" || token == "interpret" ||
            (token.size() > 1 && (token[0] == ':' || token[0] == '/' || token[0] == '@'))) {
            return true;
        }
    }
    return false;
}

// The lists being compiled, inside one another: a call of one of them
// cannot run in place.
std::vector<const ListNode*>& being_compiled() {
    static std::vector<const ListNode*> nodes;
    return nodes;
}

class Reader {
public:
    Reader(Context& ctx, const ListNode& node, Code& code, const Code* previous)
        : ctx_(ctx),
          node_(node),
          code_(code),
          previous_(previous),
          in_place_allowed_(!may_define(node) && !ctx.runtime.tracking) {
        being_compiled().push_back(&node);
    }
    ~Reader() { being_compiled().pop_back(); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The term that begins at token `first`.
    Term term(std::uint32_t first) {
        Term term;
        term.first = first;
        term.end = first + 1;
        std::string token(node_.token(first));
        std::uint32_t hash = name_hash(token);
        code_.names |= name_bit(hash);
        if (ctx_.runtime.alias_initials.test(static_cast<unsigned char>(token.c_str()[0]))) {
            if (const auto alias = ctx_.aliases.find(token); alias != ctx_.aliases.end()) {
                code_.depends_on_all = true;
                token = alias->second;
                hash = name_hash(token);
            }
        }
        if (Word* const word = find_word(ctx_, token, hash)) {
            look_up_word(*word, term);
        } else if (const auto sigil = ctx_.sigils.find(token[0]); sigil != ctx_.sigils.end()) {
            // token[0] of an empty token is its terminating NUL, which is no sigil.
            look_up_sigil(sigil->second, token.substr(1), term);
        } else if (const LeadingNumber number = leading_number(token); number.found && number.in_range) {
            term.shape = Term::Shape::number;
            term.number = number.value;
        } else {
            term.name = std::move(token);
        }
        if (term.row != nullptr && (term.row->kind == Kind::opener || term.row->kind == Kind::opener_sigil)) {
            whole_construct(term);
        }
        return term;
    }

private:
    void look_up_word(Word& word, Term& term) {
        if (const Builtin* row = row_of(word)) {
            term.shape = Term::Shape::builtin;
            term.row = row;
        } else if (const auto* user_word = word.target<UserWord>()) {
            term.shape = Term::Shape::call;
            ListNode* const body = user_word->body.node();
            term.body = body != nullptr ? body : &empty_list();
            if (in_place_allowed_ &&
                std::find(being_compiled().begin(), being_compiled().end(), term.body) == being_compiled().end()) {
                const Code& callee = current_code(ctx_, *term.body, Role::call);
                if (callee.in_place) {
                    // Its instructions, copied in, point at the lists its
                    // code holds, without holding them: a code that held
                    // them could hold itself through them. They live as long
                    // as the callee's code, which only a change replaces,
                    // and any change makes this code compile anew.
                    term.in_place = &callee;
                    code_.depends_on_all = true;
                }
            }
        } else {
            term.shape = Term::Shape::word;
            term.word = &word;
        }
    }

    void look_up_sigil(SigilHandler& handler, std::string name, Term& term) {
        term.row = row_of(handler);
        term.handler = &handler;
        term.shape = Term::Shape::sigil;
        if (term.row != nullptr && (term.row->kind == Kind::variable_sigil || term.row->kind == Kind::fetch_sigil)) {
            if (const auto variable = ctx_.variables.find(name); variable != ctx_.variables.end()) {
                term.shape = term.row->kind == Kind::fetch_sigil ? Term::Shape::fetch : Term::Shape::change;
                term.variable = &variable->second;
                return;
            }
            term.shape = Term::Shape::variable_sigil;
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
        term.shape = Term::Shape::construct;
        term.end = last + 1;
        code_.names |= name_bit(name_hash(scan.closer));
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
    std::vector<Scan> scans_;
    std::size_t kept_ = 0;  // the next of the previous code's constructs to look at
};

// What the rules match a term against.
#define TOLVA_CLASSES(X)                                                      \
    X(number)       /* a number */                                            \
    X(variable)     /* $v */                                                  \
    X(change)       /* =v +v -v */                                            \
    X(operand_word) /* a word that may take a number or variable before it */ \
    X(binary)       /* a two-operand word */                                  \
    X(unary)        /* a one-operand word */                                  \
    X(negation)     /* not */                                                 \
    X(dup)                                                                    \
    X(copy)        /* dup or over */                                          \
    X(quote)       /* a whole [ ... ] or { ... } */                           \
    X(conditional) /* iftrue or iffalse */                                    \
    X(times)                                                                  \
    X(control)    /* any control word */                                      \
    X(loop_setup) /* while or until */                                        \
    X(repeat)                                                                 \
    X(short_call) /* a call of a word whose body is one short straight run */
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
            return term.shape == Term::Shape::number;
        case Class::variable:
            return term.shape == Term::Shape::fetch;
        case Class::change:
            return term.shape == Term::Shape::change;
        case Class::operand_word:
            return term.is(Kind::binary) || term.is(Kind::binary2);
        case Class::binary:
            return term.is(Kind::binary);
        case Class::unary:
            return term.is(Kind::unary);
        case Class::negation:
            return term.is(Row::logical_not);
        case Class::dup:
            return term.is(Row::dup);
        case Class::copy:
            return term.is(Row::dup) || term.is(Row::over);
        case Class::quote:
            return term.shape == Term::Shape::construct && term.row->construct == Construct::list;
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
    }
    return false;
}

std::uint32_t bit(Class c) { return std::uint32_t{1} << static_cast<unsigned>(c); }

std::uint32_t matching_classes(const Term& term) {
    std::uint32_t classes = 0;
    for (std::size_t c = 0; c < std::size(class_names); ++c) {
        if (matches(static_cast<Class>(c), term)) classes |= bit(static_cast<Class>(c));
    }
    return classes;
}

std::uint32_t classes_of(const Term& term) {
    // A built-in word's classes are its row's: worked out once for each row.
    static const auto of_row = [] {
        std::array<std::uint32_t, static_cast<std::size_t>(Row::count)> classes{};
        for (const Builtin& row : vocabulary()) {
            Term probe;
            probe.shape = Term::Shape::builtin;
            probe.row = &row;
            classes[static_cast<std::size_t>(row_number(row))] = matching_classes(probe);
        }
        return classes;
    }();
    if (term.shape == Term::Shape::builtin) return of_row[static_cast<std::size_t>(row_number(*term.row))];
    return matching_classes(term);
}

class Builder;
using Make = Emitted (Builder::*)(std::span<const Term> terms);

struct Rule {
    std::string_view name;
    std::array<Class, 4> pattern;
    std::uint8_t length;
    Make make;
};

// Builds instructions from terms, filling the code's side tables.
class Builder {
public:
    explicit Builder(Code& code) : code_(code) {}

    // A term alone.
    Emitted single(const Term& term) {
        using Shape = Term::Shape;
        switch (term.shape) {
            case Shape::number:
                return make(term, Op::number, {.number = term.number});
            case Shape::fetch:
                return make(term, Op::fetch, {.variable = term.variable});
            case Shape::change:
                return make(term, change_op(*term.row), {.variable = term.variable});
            case Shape::variable_sigil:
                return make(term, Op::variable_sigil, {.detail = detail(term)});
            case Shape::builtin:
                return builtin(term);
            case Shape::call:
                return make(term, Op::call, {.node = term.body});
            case Shape::word:
                return make(term, Op::word, {.word = term.word});
            case Shape::sigil:
                return make(term, Op::sigil, {.detail = detail(term)});
            case Shape::construct:
                return construct(term);
            case Shape::fail:
                return make(term, Op::fail, {.detail = detail(term)});
        }
        return make(term, Op::fail, {.detail = detail(term)});
    }

    // The makers the rules name.

    // A call whose body runs in place: where it begins, then the body's
    // instructions but its guard and its end.
    Emitted in_place(std::span<const Term> terms) {
        const Term& term = terms[0];
        const Code& body = *term.in_place;
        Emitted emitted = make(term, Op::call_in_place, {.number = 0});
        emitted.slots[0].aux = 1;
        emitted.need = body.need;
        emitted.delta = body.delta;
        emitted.room = body.room;
        const std::size_t guarded = body.instrs.front().op == Op::guard ? 1 : 0;
        emitted.in_place = std::span<const Instr>(body.instrs).subspan(guarded, body.instrs.size() - guarded - 1);
        return emitted;
    }

    Emitted quote_if(std::span<const Term> terms) {
        const bool copy = terms.size() == 3;
        const Term& quote = terms[terms.size() - 2];
        const bool when = terms.back().is(Row::iftrue);
        const Op op = copy ? (when ? Op::dup_quote_iftrue : Op::dup_quote_iffalse)
                           : (when ? Op::quote_iftrue : Op::quote_iffalse);
        return make(terms.front(), op, {.node = held(quote)});
    }

    Emitted quote_times(std::span<const Term> terms) {
        return make(terms.front(), Op::quote_times, {.node = held(terms[0])});
    }

    Emitted quote_control(std::span<const Term> terms) {
        Emitted emitted = make(terms.front(), Op::quote_control, {.node = held(terms[0])});
        emitted.slots[1] = slot(terms.front(), Op::data, {.enter = terms[1].row->enter});
        emitted.size = 2;
        return emitted;
    }

    Emitted while_repeat(std::span<const Term> terms) {
        Emitted emitted = make(terms.front(), Op::while_repeat, {.node = held(terms[0])});
        emitted.slots[0].aux = terms[1].is(Row::until_loop) ? 1 : 0;
        emitted.slots[1] = slot(terms.front(), Op::data, {.node = held(terms[2])});
        emitted.size = 2;
        return emitted;
    }

    Emitted variable_number(std::span<const Term> terms) {
        const bool negate = terms.size() == 4;
        Emitted emitted =
            make(terms, ops_of(row_number(*terms[2].row)).variable_number[negate], {.variable = terms[0].variable});
        emitted.slots[1] = slot(terms.front(), Op::data, {.number = terms[1].number});
        emitted.size = 2;
        return emitted;
    }

    Emitted operand(std::span<const Term> terms) {
        const Copy copy = terms[0].is(Row::dup) ? Copy::top : terms[0].is(Row::over) ? Copy::second : Copy::none;
        const std::size_t at = copy == Copy::none ? 0 : 1;
        const Term& operand = terms[at];
        const bool number = operand.shape == Term::Shape::number;
        const bool negate = terms.size() > at + 2;
        const Op op =
            ops_of(row_number(*terms[at + 1].row)).with[number ? 0 : 1][static_cast<int>(copy)][negate ? 1 : 0];
        return make(terms, op,
                    number ? Instr::Operand{.number = operand.number} : Instr::Operand{.variable = operand.variable});
    }

    Emitted on_copy(std::span<const Term> terms) {
        const Copy copy = terms[0].is(Row::dup) ? Copy::top : Copy::second;
        return make(terms, ops_of(row_number(*terms[1].row)).on_copy[static_cast<int>(copy)], {.number = 0});
    }

    Emitted change_by_number(std::span<const Term> terms) {
        const Row row = row_number(*terms[1].row);
        const Op op = row == Row::store ? Op::store_number : row == Row::add_to ? Op::add_number : Op::subtract_number;
        Emitted emitted = make(terms, op, {.variable = terms[1].variable});
        emitted.slots[1] = slot(terms.front(), Op::data, {.number = terms[0].number});
        emitted.size = 2;
        return emitted;
    }

private:
    static Instr slot(const Term& term, Op op, Instr::Operand operand) {
        return {.op = op, .aux = 0, .token = term.first, .operand = operand};
    }

    // The instruction of `terms`; a straight one (as its op says) with the
    // effect on the depth of the terms it stands for.
    static Emitted make(std::span<const Term> terms, Op op, Instr::Operand operand) {
        Emitted emitted;
        emitted.slots[0] = slot(terms.front(), op, operand);
        emitted.straight = op_is_straight(op);
        if (emitted.straight) {
            for (const Term& term : terms) effect(term, emitted);
        }
        return emitted;
    }
    static Emitted make(const Term& term, Op op, Instr::Operand operand) {
        return make(std::span<const Term>(&term, 1), op, operand);
    }

    // Adds what `term` does to the depth after what `emitted` does.
    static void effect(const Term& term, Emitted& emitted) {
        int in = 0, out = 0;
        switch (term.shape) {
            case Term::Shape::number:
            case Term::Shape::fetch:
                out = 1;
                break;
            case Term::Shape::change:
                in = 1;
                break;
            case Term::Shape::builtin:
                in = term.row->in, out = term.row->out;
                break;
            default:
                break;
        }
        emitted.need = std::max(emitted.need, in - emitted.delta);
        emitted.delta += out - in;
        emitted.room = std::max(emitted.room, emitted.delta);
    }

    static Op change_op(const Builtin& row) {
        const Row which = row_number(row);
        return which == Row::store ? Op::store : which == Row::add_to ? Op::add_to : Op::subtract_from;
    }

    Emitted builtin(const Term& term) {
        switch (term.row->kind) {
            case Kind::binary:
            case Kind::binary2:
            case Kind::unary:
            case Kind::shuffle:
            case Kind::pop:
                return make(term, ops_of(row_number(*term.row)).alone, {.number = 0});
            case Kind::effect:
                return make(term, Op::native, {.native = term.row->word});
            case Kind::control:
                return make(term, Op::control, {.enter = term.row->enter});
            case Kind::opener:
            case Kind::change:
                return make(term, Op::native_look, {.native = term.row->word});
            default:
                return make(term, Op::fail, {.detail = detail(term)});
        }
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
                Emitted emitted = make(term, Op::define, {.detail = detail(term)});
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
        return node != nullptr ? node : &empty_list();
    }

    Detail* detail(const Term& term) {
        Detail& detail = *code_.details.emplace_back(std::make_unique<Detail>());
        detail.name = term.name;
        detail.handler = term.handler;
        detail.row = term.row;
        return &detail;
    }

    Code& code_;
};

// The fusion rules, tried in this order at each term; the first that
// matches makes the instruction. Adding a fusion is adding a row here (and
// its ops, when it needs new ones).
using C = Class;
constexpr Rule rules[] = {
    {"dup quote if", {C::dup, C::quote, C::conditional}, 3, &Builder::quote_if},
    {"quote if", {C::quote, C::conditional}, 2, &Builder::quote_if},
    {"quote times", {C::quote, C::times}, 2, &Builder::quote_times},
    {"quote loop quote repeat", {C::quote, C::loop_setup, C::quote, C::repeat}, 4, &Builder::while_repeat},
    {"quote control", {C::quote, C::control}, 2, &Builder::quote_control},
    {"V N W not", {C::variable, C::number, C::operand_word, C::negation}, 4, &Builder::variable_number},
    {"V N W", {C::variable, C::number, C::operand_word}, 3, &Builder::variable_number},
    {"copy N W not", {C::copy, C::number, C::operand_word, C::negation}, 4, &Builder::operand},
    {"copy V W not", {C::copy, C::variable, C::operand_word, C::negation}, 4, &Builder::operand},
    {"copy N W", {C::copy, C::number, C::operand_word}, 3, &Builder::operand},
    {"copy V W", {C::copy, C::variable, C::operand_word}, 3, &Builder::operand},
    {"N W not", {C::number, C::operand_word, C::negation}, 3, &Builder::operand},
    {"V W not", {C::variable, C::operand_word, C::negation}, 3, &Builder::operand},
    {"N W", {C::number, C::operand_word}, 2, &Builder::operand},
    {"V W", {C::variable, C::operand_word}, 2, &Builder::operand},
    {"copy W", {C::copy, C::binary}, 2, &Builder::on_copy},
    {"copy U", {C::copy, C::unary}, 2, &Builder::on_copy},
    {"N change", {C::number, C::change}, 2, &Builder::change_by_number},
    {"call in place", {C::short_call}, 1, &Builder::in_place},
};

}  // namespace

std::vector<RuleDescription> fusion_rules() {
    std::vector<RuleDescription> described;
    for (const Rule& rule : rules) {
        RuleDescription& description = described.emplace_back();
        description.name = rule.name;
        for (std::size_t index = 0; index < rule.length; ++index) {
            description.pattern.push_back(class_names[static_cast<std::size_t>(rule.pattern[index])]);
        }
    }
    return described;
}

void compile_terms(Context& ctx, const ListNode& node, Code& code, const Code* previous,
                   const std::function<void(const Emitted&)>& emit) {
    Reader reader(ctx, node, code, previous);
    Builder builder(code);
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
        std::size_t taken = 1;
        const Rule* matched = nullptr;
        // While places are tracked, each instruction stands for one token
        // (or one whole construct), so that an error names its own.
        for (const Rule& rule : ctx.runtime.tracking ? std::span<const Rule>() : std::span<const Rule>(rules)) {
            if ((ahead.front().classes & bit(rule.pattern[0])) == 0) continue;
            fill(rule.length);
            if (ahead.size() < rule.length) continue;
            bool all = true;
            for (std::size_t index = 1; all && index < rule.length; ++index)
                all = (ahead[index].classes & bit(rule.pattern[index])) != 0;
            if (all) {
                matched = &rule;
                break;
            }
        }
        if (matched != nullptr) {
            taken = matched->length;
            emit((builder.*matched->make)(std::span<const Term>(ahead.data(), taken)));
            if (on_rule_matched != nullptr) on_rule_matched(matched->name);
        } else {
            emit(builder.single(ahead.front()));
        }
        ahead.erase(ahead.begin(), ahead.begin() + static_cast<std::ptrdiff_t>(taken));
    }
}

}  // namespace forth
