// Random programs run twice: by compiled instructions, and with every token
// resolved anew. Whatever the instructions do, the two must agree on what
// is printed, what is reported, what is left on the stack and whether the
// input ran to its end. The programs are made from the tables: every name
// the dictionary starts with, every sigil, and for every fusion rule runs
// of tokens of the classes it matches. The test fails when a rule was
// never matched, or an op that the ops test does not make was never made,
// so a new rule or op is tried as soon as it exists.

#include <algorithm>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/user_word.hpp"
#include "engine/code.hpp"
#include "engine/embed.hpp"
#include "engine/fusion.hpp"
#include "engine/profile.hpp"
#include "app/sandbox.hpp"
#include "session.hpp"

namespace {

using forth::testing::Redirect;

std::set<std::string> rules_matched;

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {
        forth::Context ctx;
        forth::load_builtins(ctx);
        forth::add_shell_words(ctx);
        for (const auto& entry : ctx.words) words_.push_back(entry.first);
        std::ranges::sort(words_);
        for (const forth::Builtin& row : forth::vocabulary()) {
            const std::string name(row.name);
            switch (row.kind) {
                case forth::Kind::control:
                    controls_.push_back(name);
                    break;
                case forth::Kind::variable_sigil:
                case forth::Kind::fetch_sigil:
                case forth::Kind::opener_sigil:
                case forth::Kind::other_sigil:
                    sigils_.push_back(name);
                    break;
                case forth::Kind::alias:
                    words_.push_back(name);
                    break;
                default:
                    break;
            }
        }
        // The rules that keep a value in its register through a shuffle
        // have lines of their own (shuffled), so that the random programs
        // made before them stay as they were.
        for (const forth::RuleDescription& rule : forth::fusion_rules()) {
            const bool later = rule.name == "add under" || rule.name == "form tuck";
            (later ? later_rules_ : rules_).push_back(rule);
        }
        // The words, and variable sigils on a variable, that each form rule may take.
        for (const forth::RuleDescription& rule : forth::fusion_rules()) {
            if (!rule.name.starts_with("form ")) continue;
            std::size_t form = 0;
            while (forth::info(static_cast<forth::Form>(form)).name != rule.name.substr(5)) ++form;
            for (const forth::Builtin& row : forth::vocabulary()) {
                if (forth::op_of(forth::row_number(row), static_cast<forth::Form>(form)) == forth::Op::count) continue;
                const bool sigil = row.kind == forth::Kind::variable_sigil || row.kind == forth::Kind::fetch_sigil;
                for (const std::string& variable : sigil ? variables_ : std::vector<std::string>{""})
                    form_words_[rule.name].push_back(std::string(row.name) + variable);
            }
        }
    }

    // The variables a and b and the word u exist from its first line; i
    // once a loop ran. u is no straight run (it runs a list), so that a
    // quote of it is a call, not a list run in place; and it ends in a list
    // spliced in as its last act, which calls u again when u made -1. v
    // runs in place, and a list of its own in place inside it.
    std::string program() {
        std::string text = "3 =a 0.5 =b :u 1+ { } execute dup -1 = not { 1+ u } iffalse ; :v dup { 1+ } iftrue ;\n";
        // Half the lines run as a list, whose tokens are compiled.
        for (int line = pick(1, 6); line > 0; --line)
            text += (pick(0, 1) ? "[ " + sequence(1) + "] execute" : sequence(0)) + '\n';
        return text;
    }

    // A line with the if-else idiom: the second conditional runs on the
    // flag the first kept. As its list's last act or not, or that of a
    // word no list names, called twice.
    std::string idiom() {
        const std::string flag = one_of({"", "over 0 = ", "2dup < "});  // proving a depth, or not
        const bool on_true = pick(0, 1) != 0;
        const std::string first = of_class(one_of(idiom_lists_), 1, rules_.front());
        const std::string second = of_class(one_of(idiom_lists_), 1, rules_.front());
        const std::string text =
            flag + "dup " + first + (on_true ? " iftrue " : " iffalse ") + second + (on_true ? " iffalse" : " iftrue");
        switch (pick(0, 2)) {
            case 0:
                return text + '\n';
            case 1:
                return "[ " + text + " ] execute\n";
            default:
                return ":ifelse " + text + (pick(0, 1) ? " ;" : " 1 ;") + " 7 3 ifelse 7 3 ifelse\n";
        }
    }

    // A line with a shuffle that keeps a value in its register, among
    // tokens that run straight on, failing or not; as a list or not.
    std::string shuffled() {
        const forth::RuleDescription& rule =
            later_rules_[static_cast<std::size_t>(pick(0, static_cast<int>(later_rules_.size()) - 1))];
        std::string text;
        for (int item = pick(0, 3); item > 0; --item) text += one_of(straight_) + ' ';
        for (const std::string& term : rule.pattern) text += of_class(term, 1, rule) + ' ';
        for (int item = pick(0, 2); item > 0; --item) text += one_of(straight_) + ' ';
        return (pick(0, 1) ? ":f " + text + "; 9 4 7 f f\n" : "5 7 3 " + text + '\n');
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    const std::string& one_of(const std::vector<std::string>& choices) {
        return choices[static_cast<std::size_t>(pick(0, static_cast<int>(choices.size()) - 1))];
    }

    std::string sequence(int depth) {
        std::string text;
        for (int item = pick(1, 8); item > 0; --item) text += element(depth) + ' ';
        return text;
    }

    // A token, a run that a fusion rule matches, or a whole construct that
    // the word after it runs or names.
    std::string element(int depth) {
        const int choice = pick(0, 9);
        if (choice < 5 || depth > 2) return token();
        if (choice < 8) {
            const forth::RuleDescription& rule =
                rules_[static_cast<std::size_t>(pick(0, static_cast<int>(rules_.size()) - 1))];
            std::string run;
            for (const std::string& term : rule.pattern) run += of_class(term, depth, rule) + ' ';
            return run;
        }
        // One draw at a time: the order in which operands of + are
        // evaluated differs between compilers, and the programs must not.
        const std::string inner = sequence(depth + 1);
        const std::string after = one_of(after_lists_);
        switch (pick(0, 4)) {
            case 0:
                return "[ " + inner + "] " + after;
            case 1:
                return "{ " + inner + "} " + after;
            case 2:
                return ":" + one_of(names_) + ' ' + inner + ";";
            case 3:
                return "/* " + inner + "*/";
            default:
                return "( " + inner + ") " + (after.size() % 2 ? "@t" : "..");
        }
    }

    std::string token() {
        switch (pick(0, 3)) {
            case 0:
                return pick(0, 20) ? one_of(words_) : "=z $z";  // a variable made after its list was compiled
            case 1:
                return one_of(sigils_) + one_of(names_);
            case 2:
                return one_of(numbers_);
            default:
                return one_of(names_);
        }
    }

    // A token of a class the fusion rules name.
    std::string of_class(std::string_view name, int depth, const forth::RuleDescription& rule) {
        if (name == "number") return one_of(numbers_);
        if (name == "variable") return "$" + one_of(variables_);
        if (name == "in_form") return one_of(form_words_[rule.name]);
        if (name == "negation") return "not";
        if (name == "dup") return "dup";
        if (name == "over") return "over";
        if (name == "quote")
            return (pick(0, 1) ? "[ " : "{ ") + (depth > 2 ? token() : sequence(depth + 1)) +
                   (pick(0, 1) ? " ]" : " }");
        if (name == "short_quote") {
            std::string list = pick(0, 1) ? "[" : "{";
            for (int item = pick(0, 4); item > 0; --item) list += ' ' + one_of(straight_);
            return list + (list[0] == '[' ? " ]" : " }");
        }
        if (name == "quote_call") return pick(0, 1) ? "[ u ]" : "{ " + one_of({"w", "v", "u"}) + " }";
        if (name == "spliced_quote") {
            // Straight tokens around calls, one of u at least, which calls.
            std::string list = pick(0, 1) ? "[" : "{";
            for (int item = pick(0, 2); item > 0; --item) list += ' ' + one_of(straight_);
            list += " u";
            for (int item = pick(0, 3); item > 0; --item) list += ' ' + one_of(pick(0, 2) ? straight_ : names_);
            return list + (list[0] == '[' ? " ]" : " }");
        }
        if (name == "conditional") return one_of({"iftrue", "iffalse"});
        if (name == "times") return "times";
        if (name == "control") return one_of(controls_);
        if (name == "loop_setup") return one_of({"while", "until"});
        if (name == "repeat") return "repeat";
        if (name == "short_call") return one_of({"w", "v", "u"});
        if (name == "minus_rot") return "-rot";
        if (name == "plus") return "+";
        if (name == "swap") return "swap";
        ADD_FAILURE() << "no tokens for the class " << name << " of a fusion rule";
        return {};
    }

    std::mt19937 random_;
    std::vector<std::string> words_, sigils_, controls_;
    std::vector<forth::RuleDescription> rules_, later_rules_;
    std::map<std::string, std::vector<std::string>> form_words_;
    // Names that get redefined, built-in ones among them, and variables,
    // z among them, which no program makes but by a sigil.
    const std::vector<std::string> names_ = {"w", "v", "u", "foo", "t", "a", "z", "dup", "]", ";", "1", "+"};
    const std::vector<std::string> variables_ = {"a", "b", "i", "z"};
    const std::vector<std::string> numbers_ = {"0", "1", "2", "3", "7", "2.5", "0x10", "nan", "1e400"};
    // Tokens that run straight on, failing or not: what a list run in place holds.
    const std::vector<std::string> straight_ = {"1", "0", "2.5", "dup", "drop", "swap", "over", "-rot", "2dup", "+",
                                                "-", "*", "mod", "/mod", "<", "=", "not", "1+", "$a", "+b", "=a"};
    const std::vector<std::string> idiom_lists_ = {"short_quote", "quote_call", "spliced_quote", "quote"};
    const std::vector<std::string> after_lists_ = {"iftrue", "iffalse", "execute", "3 times", "2 times", "while",
                                                   "repeat", "/w",      "/v",      "interpret", "until { dup } repeat"};
};

// The ops of the instructions of `node` and of the lists they hold or call.
// A call's body is known to be alive only while its code is current.
void record_ops(forth::Context& ctx, const forth::ListNode* node, std::set<std::string>& ops,
                std::set<const forth::ListNode*>& visited) {
    if (node == nullptr || !node->code || !visited.insert(node).second) return;
    const auto& code = static_cast<const forth::Code&>(*node->code);
    std::vector<const forth::Code*> codes{&code, code.loop.get()};
    for (const auto& variant : code.variants) codes.push_back(variant.get());
    for (const forth::Code* each : codes) {
        if (each == nullptr) continue;
        for (const forth::Instr& instr : each->instrs) ops.insert(forth::info(instr.op).name);
    }
    for (const auto& construct : code.constructs) record_ops(ctx, construct.list.node(), ops, visited);
    if (code.generation != ctx.runtime.generation) return;
    for (const forth::Instr& instr : code.instrs) {
        if (instr.op == forth::Op::call || instr.op == forth::Op::tail_call)
            record_ops(ctx, instr.operand.node, ops, visited);
    }
}

void record_ops(forth::Context& ctx, std::set<std::string>& ops) {
    std::set<const forth::ListNode*> visited;
    for (const auto& [name, word] : ctx.words) {
        if (const auto* user_word = word.target<forth::UserWord>())
            record_ops(ctx, user_word->body.node(), ops, visited);
    }
    for (const auto* list : {&ctx.quotation, &ctx.buffer, &ctx.loop_body}) record_ops(ctx, list->node(), ops, visited);
}

struct Outcome {
    std::string output, errors, stack, state;
    bool completed;
};

// By instructions (from a list's second run, or from its first) or token
// by token; and with the places of tokens tracked, by instructions from the
// first run, or token by token under a trace that looks at every token's
// chain. A budget polls at every call and loop pass, which keeps the
// evaluator on its slow roads; `unpolled` runs by instructions without
// one, on its fast roads, a program known to end within it. A profile
// runs the loop built to count each step, on code compiled for it.
enum class Way { fast, eager, plain, tracked, traced, unpolled, profiled };

Outcome run(const std::string& program, Way way, std::set<std::string>* ops = nullptr) {
    forth::Context ctx;
    forth::load_builtins(ctx);
    forth::add_shell_words(ctx);
    forth::evaluator(ctx).by_tokens = way == Way::plain;
    forth::evaluator(ctx).eager = way == Way::eager || way == Way::tracked || way == Way::unpolled || way == Way::profiled;
    if (way == Way::tracked) forth::track_places(ctx);
    if (way == Way::profiled) forth::start_profile(ctx, "program");
    if (way == Way::traced) {
        // The chain of a token now and then: each walks every frame.
        forth::set_trace(ctx, [tokens = 0](forth::Context& traced) mutable {
            if (++tokens % 64 == 0) {
                EXPECT_FALSE(forth::running_places(traced).empty());
            }
        });
    }
    const Redirect in(std::cin), out(std::cout), err(std::cerr);
    forth::sandbox::confine(ctx, 3'000);
    if (way == Way::unpolled) forth::sandbox::unlimit(ctx);
    const bool completed = forth::sandbox::run_lines(ctx, program);
    if (ops != nullptr) record_ops(ctx, *ops);
    if (way == Way::profiled) {
        // Every step the run took is in the profile once.
        const forth::ProfileSummary summary = forth::profile_summary(ctx);
        std::uint64_t steps = 0;
        for (const forth::ProfileRow& row : summary.rows) steps += row.self;
        EXPECT_EQ(steps, summary.steps);
    }
    std::ostringstream stack, state;
    for (const double value : ctx.stack) stack << value << ' ';
    state << '[' << ctx.terminator << "] " << ctx.text << " |";
    for (const auto& token : ctx.quotation) state << ' ' << token;
    state << " |";
    for (const auto& token : ctx.buffer) state << ' ' << token;
    return {out.text(), err.text(), stack.str(), state.str(), completed};
}

// Programs that use up the budget in the middle of what the instructions
// run as one, so that both ways must poll at exactly the same calls.
TEST(Differential, BudgetRunsOutAtTheSameCall) {
    for (const char* program : {
             ":i 1+ ; :j i i ; :k j j ; 0 [ k ] 1000 times",
             ":i 1+ ; :j i 2 i drop ; 0 [ j ] 2000 times",
             ":f dup 2 < not { dup 1- f swap 2 - f + } iftrue ; 25 f",
             "0 =a { 1 +a } while { $a 5000 < } repeat",
             ":e ; [ e e e ] 2000 times",
             ":g 1- dup 0 > { g } iftrue ; 100000 g",
             ":s dup { 1- s 0 } iftrue drop ; 100000 s",
         }) {
        SCOPED_TRACE(program);
        const Outcome plain = run(program, Way::plain);
        for (const Way way : {Way::fast, Way::eager}) {
            const Outcome fast = run(program, way);
            EXPECT_FALSE(fast.completed);
            EXPECT_EQ(fast.stack, plain.stack);
            EXPECT_EQ(fast.state, plain.state);
            EXPECT_EQ(fast.completed, plain.completed);
        }
    }
}

// Each round's returns collect the rest of a word that holds the last
// round's collection, fiftyfold and then three-hundredfold with no call
// between: the input ends before the buffer holds a fuzzer's timeout.
TEST(Differential, ListsThatGrowByReturnsEndTheInput) {
    const std::string round = ":deep 1- dup { deep } iftrue 0 ) .. cr\n:deep 1- dup { deep } iftrue 0 + ; 50 deep\n";
    for (const Way way : {Way::fast, Way::plain}) {
        const Outcome grown = run(round + round + "; 300 deep", way);
        EXPECT_FALSE(grown.completed);
        EXPECT_LT(grown.state.size(), 100'000U);
    }
}

// A list that loses its last owner while it runs, and then collects into
// the buffer that was that owner, must still run the tokens it began with.
TEST(Differential, ListsThatRunNeverChange) {
    for (const char* program : {"[ 'dup /* w */ ] execute", "{ [ 1 ] /* w } execute */ 2 } execute"}) {
        SCOPED_TRACE(program);
        const Outcome plain = run(program, Way::plain);
        for (const Way way : {Way::fast, Way::eager}) {
            const Outcome fast = run(program, way);
            EXPECT_EQ(fast.errors, "");
            EXPECT_EQ(plain.errors, fast.errors);
            EXPECT_EQ(plain.state, fast.state);
        }
    }
}

// Each program leaves `stack` run token by token, and the same output,
// reports and stack in every other way; tracked, the same as traced.
void expect_alike_every_way(const std::vector<std::pair<const char*, const char*>>& programs) {
    for (const auto& [program, stack] : programs) {
        SCOPED_TRACE(program);
        const Outcome plain = run(program, Way::plain);
        EXPECT_EQ(plain.stack, stack);
        for (const Way way : {Way::fast, Way::eager, Way::unpolled, Way::profiled}) {
            const Outcome other = run(program, way);
            EXPECT_EQ(other.output, plain.output);
            EXPECT_EQ(other.errors, plain.errors);
            EXPECT_EQ(other.stack, plain.stack);
        }
        const Outcome tracked = run(program, Way::tracked), traced = run(program, Way::traced);
        EXPECT_EQ(tracked.errors, traced.errors);
        EXPECT_EQ(tracked.stack, traced.stack);
    }
}

// The if-else idiom at a word's end, `dup { ... w 0 } iftrue drop`, whose
// list leaves its last value out for the drop and ends the word: the same
// in every way, as a times loop's body, with the word its call enters
// redefined or run token by token, or redefining before it, and failing
// halfway. (n is no straight run, which a call would run in place.)
TEST(Differential, AValueLeftForTheDropAtAnEndIsLeftOut) {
    expect_alike_every_way({
        {":gcd dup { swap over mod gcd 0 } iftrue drop ; 1071 462 gcd 5 0 gcd 0 7 gcd", "21 5 7 "},
        {":down dup 0 = { dup . 1- down 5 } iffalse drop ; 4 down 0 down", ""},
        {":n [ ] execute ; :l { 1- n 9 } iftrue drop ; 3 1 l 4 0 l", "2 "},
        {":n [ ] execute ; [ $i dup { 1+ n 7 } iftrue drop ] 3 times", "2 3 "},
        {":redo [ 2 ] /f ; :g dup { 1+ redo 0 } iftrue drop ; :f 1 ; 1 g f 5 g f 0 g", "2 2 6 2 "},
        {":n [ ] execute ; :redo [ 2 ] /f ; :g dup { redo n 0 } iftrue drop ; 1 g 1 g 1 g", "1 1 1 "},
        {":s dup { 1- s 0 } iftrue drop ; 1000 s 2 s", ""},
        {":e dup { swap - e 0 } iftrue drop ; 7 3 e", "-4 "},
    });
}

// The if-else idiom, `dup { A } iftrue { B } iffalse`, whose first half,
// skipping A, has the second run B untested: with B a call, a list spliced
// in or one run in place; ending a word or a times loop's body, whose end
// is no last act; the other way round; on flags of -0 and nan; with B's
// word redefined; and failing in B. (n is no straight run.)
TEST(Differential, TheIfElseIdiomsSecondHalfRunsUntested) {
    expect_alike_every_way({
        {":p over 0 = dup { -rot drop drop 1 swap } iftrue { p+ } iffalse ; "
         ":p+ over 0 < over 0 = or dup { -rot drop drop 0 swap } iftrue { p2 } iffalse ; "
         ":p2 2dup 1- p -rot swap over - swap p + ; 12 12 p 0 3 p",
         "77 1 "},
        {":w 10 + ; [ $i dup 2 mod dup { drop 100 } iftrue { w } iffalse ] 4 times", "10 1 12 3 "},
        {":n [ ] execute ; [ $i dup 2 mod dup { drop 100 } iftrue { n 10 + n } iffalse ] 4 times", "10 1 12 3 "},
        {"[ $i dup 2 mod dup { drop 100 } iftrue { 5 + } iffalse ] 4 times", "5 1 7 3 "},
        {":n [ ] execute ; :g dup 3 < dup { drop n 0 } iffalse { 1+ n } iftrue ; 1 g 5 g", "2 5 "},
        {":w 1 ; :g dup { 7 } iftrue { w } iffalse ; 0 1 - 0 * g nan g 0 g :w 2 ; 0 g", "1 nan 1 2 "},
        {":g 1 swap dup { drop } iftrue { 0 mod } iffalse ; 3 g 0 g", ""},
        {":c 1+ [ ] execute ; :t dup { 1 } iftrue { c } iffalse ;\n0 t\n0 t\n5 0 t", "6 "},
        {":c + + [ ] execute ; :t 2dup < dup { 1 } iftrue { c } iffalse ;\n3 2 t\n3 2 t\n1 3 2 t", "6 "},
    });
}

TEST(Differential, InstructionsBehaveAsTokensResolvedAnew) {
    Generator generator(20261207), idioms(20261210), shuffles(20261211);
    std::set<std::string> ops;
    forth::on_rule_matched = [](const std::string& rule) { rules_matched.emplace(rule); };
    for (int index = 0; index < 8000; ++index) {
        const std::string program = generator.program() + idioms.idiom() + shuffles.shuffled();
        SCOPED_TRACE(program);
        const Outcome plain = run(program, Way::plain);
        // By instructions compiled at a list's second run, or at its first,
        // in turns; every fourth program tracked too, and every fourth
        // profiled; and without a budget when the program ended within it.
        for (const auto& [one, other] :
             {std::pair{Way::fast, Way::plain}, std::pair{Way::eager, Way::plain}, std::pair{Way::tracked, Way::traced},
              std::pair{Way::unpolled, Way::plain}, std::pair{Way::profiled, Way::plain}}) {
            if ((one == Way::fast && index % 2 != 0) || (one == Way::eager && index % 2 == 0) ||
                (one == Way::tracked && index % 4 != 0) || (one == Way::profiled && index % 4 != 1) ||
                (one == Way::unpolled && !plain.completed))
                continue;
            const Outcome fast = run(program, one, &ops);
            const Outcome other_way = other == Way::plain ? plain : run(program, other);
            ASSERT_EQ(fast.output, other_way.output);
            ASSERT_EQ(fast.errors, other_way.errors);
            ASSERT_EQ(fast.stack, other_way.stack);
            ASSERT_EQ(fast.state, other_way.state);
            ASSERT_EQ(fast.completed, other_way.completed);
        }
    }
    forth::on_rule_matched = nullptr;
    std::vector<std::string> never;
    for (std::size_t op = 0; op < static_cast<std::size_t>(forth::Op::count); ++op) {
        const forth::OpInfo& made = forth::info(static_cast<forth::Op>(op));
        // Each op of a row, and each op spelled alone, the ops test makes
        // (ops_test.cpp); by_tokens and begin_pass stand for the driver's
        // way, in no list.
        const std::string name = made.name;
        if (made.row != forth::Row::count || *made.spelling != '\0' || name == "by_tokens" || name == "begin_pass")
            continue;
        if (!ops.contains(name)) never.push_back(name);
    }
    for (const forth::RuleDescription& rule : forth::fusion_rules()) {
        if (!rules_matched.contains(rule.name)) never.push_back("rule " + rule.name);
    }
    EXPECT_EQ(never, std::vector<std::string>{}) << "instructions or rules never made";
}

}  // namespace
