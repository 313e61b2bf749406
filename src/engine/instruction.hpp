#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/context.hpp"
#include "core/entry.hpp"
#include "words/vocabulary.hpp"

// The evaluator's instructions: its own, and those that the vocabulary's
// rows make (words/vocabulary.def). Each op's body is in engine/machine.cpp.
namespace forth {

// The evaluator's own ops: (name, straight). A straight op works on the
// stack, variables, text, lists, input and output only: it cannot change
// the dictionary, open a construct or push a frame, so the next
// instruction follows it at once and the head of its run checks the depth
// for it (see `guard`).
#define TOLVA_ENGINE_OPS(X)                                                                          \
    X(exit, false)           /* hands the top frame to the driver (engine/driver.cpp) */             \
    X(data, false)           /* the second slot of an instruction of two */                          \
    X(ret, false)            /* the end of a list run once */                                        \
    X(guard, true)           /* the head of a straight run: the depth it needs, the room it takes */ \
    X(number, true)          /* pushes its number */                                                 \
    X(fetch, true)           /* $v, its variable found */                                            \
    X(store, true)           /* =v */                                                                \
    X(add_to, true)          /* +v */                                                                \
    X(subtract_from, true)   /* -v */                                                                \
    X(store_number, true)    /* N =v */                                                              \
    X(add_number, true)      /* N +v */                                                              \
    X(subtract_number, true) /* N -v */                                                              \
    X(variable_sigil, false) /* = + - $ on a variable that did not exist yet */                      \
    X(fetch_checked, false)  /* what variable_sigil becomes once its variable exists, */             \
    X(store_checked, false)  /* checking the stack itself, as it runs outside the guards */          \
    X(add_to_checked, false)                                                                         \
    X(subtract_from_checked, false)                                                                  \
    X(native, true)        /* a row's function that works on the Context */                          \
    X(native_look, false)  /* a row's function that may change anything */                           \
    X(word, false)         /* any other callable in the dictionary */                                \
    X(sigil, false)        /* any other sigil */                                                     \
    X(fail, false)         /* no word, sigil or number: throws as resolving it does */               \
    X(call, false)         /* a word defined in the language */                                      \
    X(call_in_place, true) /* where a call whose body follows in line begins: depth, poll */         \
    X(control, false)      /* a control word: runs what it says */                                   \
    X(quote, true)         /* a whole [ ... ] or { ... } */                                          \
    X(string, true)        /* a whole ( ... ) */                                                     \
    X(comment, true)       /* a whole / * ... * / */                                                 \
    X(define, false)       /* a whole :name ... ; */                                                 \
    X(quote_iftrue, false) /* a whole quote and iftrue */                                            \
    X(quote_iffalse, false)                                                                          \
    X(dup_quote_iftrue, false) /* the same after dup: the if-else idiom's copy of the flag */        \
    X(dup_quote_iffalse, false)                                                                      \
    X(quote_times, false)   /* a whole quote and times */                                            \
    X(quote_control, false) /* a whole quote and any other control word */                           \
    X(while_repeat, false)  /* { body } while|until { condition } repeat */                          \
    X(times_back, false)    /* the end of a times loop's body: the next pass */                      \
    X(to_condition, false)  /* the end of a repeat loop's body */                                    \
    X(repeat_test, false)   /* the end of its condition: stop, or the next pass */                   \
    X(repeat_back, false)   /* the end of a straight body and condition in one: the test */         \
    X(ret_kept, false)      /* ret, whose last call keeps its frame: places are tracked */

// The ops a row makes: a two-operand word alone, with a number (n) or a
// variable (v) as its top operand, with a variable and a number (vn), after
// dup or over, each possibly followed by not; a one-operand word alone or
// after dup or over; any other row that computes on the stack alone.
#define TOLVA_OPERAND_FORMS(X, id)                                                                      \
    X(id##_n, true)                                                                                     \
    X(id##_n_not, true) X(id##_v, true) X(id##_v_not, true) X(id##_vn, true) X(id##_vn_not, true)       \
        X(dup_##id##_n, true) X(dup_##id##_n_not, true) X(dup_##id##_v, true) X(dup_##id##_v_not, true) \
            X(over_##id##_n, true) X(over_##id##_n_not, true) X(over_##id##_v, true) X(over_##id##_v_not, true)
#define TOLVA_BINARY_OPS(X, id) X(id, true) TOLVA_OPERAND_FORMS(X, id) X(dup_##id, true) X(over_##id, true)
#define TOLVA_BINARY2_OPS(X, id) X(id, true) TOLVA_OPERAND_FORMS(X, id)
#define TOLVA_UNARY_OPS(X, id) X(id, true) X(dup_##id, true) X(over_##id, true)
#define TOLVA_PLAIN_OPS(X, id) X(id, true)

enum class Op : std::uint16_t {
#define TOLVA_OP(name, straight) name,
    TOLVA_ENGINE_OPS(TOLVA_OP)
#include "engine/row_ops.def"
#undef TOLVA_OP
        count
};

struct Code;
struct Builtin;

// What only some instructions need, kept out of the instruction array.
struct Detail {
    std::string name;                 // a sigil's name, a failing token, a definition's name
    SigilHandler* handler = nullptr;  // sigil: any other sigil
    const Builtin* row = nullptr;     // variable_sigil, sigil: the sigil's row, if built in
};

// One instruction: 16 bytes, what it does, the token it begins at and its
// operand. An instruction that needs two operands takes a second slot
// (op `data`) for the second.
struct Instr {
    Op op;
    std::uint16_t aux;    // guard: how many instructions its run has; while_repeat: its stop
                          // value; call_in_place: how many calls deep it is
    std::uint32_t token;  // the first token of the list that it runs
    union Operand {
        double number;
        double* variable;
        ListNode* node;  // call, quotes: the list
        Word* word;
        Detail* detail;
        void (*native)(Context&);
        Entry (*enter)(Context&);
        struct {
            std::int32_t below;  // the bytes the depth must reach: (need - 1) values
            std::int32_t room;   // the bytes of room its run takes
        } guard;
    } operand;
};
static_assert(sizeof(Instr) == 16);

// The op's name as the tests know it, and whether it runs straight on.
const char* op_name(Op op);
bool op_is_straight(Op op);

// The ops a row makes, by form; Op::count where it makes none.
enum class Operand : std::uint8_t { number, variable };
enum class Copy : std::uint8_t { none, top, second };  // nothing, dup, over before
struct RowOps {
    Op alone = Op::count;
    Op with[2][3][2] = {};       // [Operand][Copy][then not]
    Op variable_number[2] = {};  // a variable and a number [then not]
    Op on_copy[3] = {};          // [Copy]: the word after dup or over
};
const RowOps& ops_of(Row row);

}  // namespace forth
