// The editor's features as plain functions over an analysis: what a token
// means at its place, the effects claimed, hover and completion, with no
// protocol in between.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "lsp/analysis.hpp"
#include "lsp/features.hpp"
#include "app/reference.hpp"
#include "words/vocabulary.hpp"

namespace forth::lsp {
namespace {

const std::string document = "file:///p/main.tv";

Analysis analysed(const std::string& text, const std::map<std::string, std::string>& files = {}) {
    return analyse(document, text, [&](const std::string& uri) -> std::optional<std::string> {
        const auto found = files.find(uri);
        if (found == files.end()) return std::nullopt;
        return found->second;
    });
}

std::string hover_text(const Analysis& analysis, int line, int character) {
    const std::optional<Hover> found = hover(analysis, document, {line, character});
    return found ? found->markdown : "";
}

std::vector<std::string> messages(const Analysis& analysis) {
    std::vector<std::string> all;
    for (const Diagnostic& diagnostic : analysis.diagnostics) all.push_back(diagnostic.message);
    return all;
}

TEST(Reading, AWordNamedLikeANumberIsTheWordFromItsDefinitionOn) {
    const Analysis analysis = analysed(":7 70 80 ;\n7 :b1 7 ;\n:1 7 8 9 ;\n:b2 true ;\n1 + . cr");
    EXPECT_EQ(effect_notation(analysis, "7"), "( -- a b )");
    EXPECT_EQ(effect_notation(analysis, "1"), "( -- a b c d )");  // its 7 is the word
    EXPECT_EQ(effect_notation(analysis, "b1"), "( -- a b )");
    EXPECT_EQ(effect_notation(analysis, "b2"), "( -- a b c d )");  // true is 1, whose 7 is two values
    EXPECT_EQ(analysis.tokens[4].role, Role::user_word);
    EXPECT_TRUE(hover_text(analysis, 1, 0).starts_with("```tolva\n:7 70 80 ;"));
    EXPECT_EQ(definitions(analysis, {1, 0}).size(), 1u);
    EXPECT_TRUE(analysis.diagnostics.empty()) << messages(analysis).front();
}

TEST(Reading, ATokenMeansWhatItMeansWhereItRuns) {
    // 7 before the definition is a number; a sigil is tried after the
    // words; a string's tokens are text and its closer a closer.
    const std::pair<const char*, std::map<std::size_t, Role>> cases[] = {
        {"7 . :7 1 ;\n:$x 7 ; $x .\n", {{0, Role::number}, {8, Role::user_word}}},
        {"( a b ) ..\n:s ( c ) .. ;\n", {{1, Role::text}, {3, Role::closer}, {7, Role::text}, {8, Role::closer}}},
    };
    for (const auto& [text, roles] : cases) {
        const Analysis analysis = analysed(text);
        for (const auto& [index, role] : roles) EXPECT_EQ(analysis.tokens.at(index).role, role) << text << index;
        EXPECT_TRUE(analysis.diagnostics.empty()) << messages(analysis).front();
    }
    EXPECT_EQ(effect_notation(analysed(":$x 7 ;\n$x .\n"), "$x"), "( -- a )");
}

TEST(Reading, SaysNothingWhereWhatRunsMayDefine) {
    for (const char* text : {"{ ( nm2 ) [ 3 ] ; } /mk mk nm2 .s", "[ accept interpret k . ] 3 times",
                             "[ true foo 1 ] .buffer"}) {
        const Analysis analysis = analysed(text);
        EXPECT_TRUE(analysis.diagnostics.empty()) << text << ": " << messages(analysis).front();
    }
}

TEST(Reading, AWordUsedBeforeItsDefinitionFailsThere) {
    const Analysis analysis = analysed("sq . :sq dup * ;\n");
    ASSERT_EQ(analysis.diagnostics.size(), 1u);
    EXPECT_EQ(analysis.diagnostics[0].message,
              "`sq` is not defined yet here (it is defined at line 1): running it here fails with `Domain error: "
              "unknown word`");
}

TEST(Reading, AStrayCloserAfterAMissingSemicolon) {
    const Analysis analysis = analysed(":a 1 2\n:b 3 ;\n1 ] . cr\n");
    const std::vector<std::string> all = messages(analysis);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], ":b is collected into the definition :a, still open: is a ; missing before it?");
    EXPECT_EQ(all[1], "] closes nothing: no construct is open");
}

TEST(Reading, AFileIncludedAgainIsReadOnce) {
    // The document includes itself and a file twice: neither is read
    // again, so each definition and use is listed once.
    const Analysis analysis = analysed(":sq dup * ;\n( main.tv ) included ( lib.tv ) included ( lib.tv ) included\n3 sq cube\n",
                                       {{document, ":sq dup * ;\n"}, {"file:///p/lib.tv", ":cube dup dup * * ;\n[ 1 ] execute drop\n"}});
    EXPECT_EQ(definitions(analysis, {0, 1}).size(), 1u);
    EXPECT_EQ(references(analysis, document, {0, 1}).size(), 2u);
    EXPECT_EQ(definitions(analysis, {2, 6}).size(), 1u);
    EXPECT_EQ(analysis.included, std::vector<std::string>{"file:///p/lib.tv"});
}

TEST(Reading, ClaimsNothingOfWhatRunningMayHaveDefined) {
    // def redefines q by name: q's effect is unknown, def's and w's known.
    Analysis analysis = analysed(":q 1 ;\n:w 1 2 ;\n:def [ 1 2 ] /q ;\ndef\n");
    EXPECT_EQ(effect_notation(analysis, "q"), "( ? )");
    EXPECT_EQ(effect_notation(analysis, "def"), "( -- )");
    EXPECT_EQ(effect_notation(analysis, "w"), "( -- a b )");
    // The same call where the depth was no longer followed: looked through.
    analysis = analysed(":q 1 ;\n:def [ 1 2 ] /q ;\nclear def\n");
    EXPECT_EQ(effect_notation(analysis, "q"), "( ? )");
    // A list that leaves a definition open collects what follows: the lone
    // ; then closes it, so nothing after is as read, and no slip is sure.
    analysis = analysed(":step 1 2 ;\n[ :other ] execute 3 ;\n( step ) ;\n");
    EXPECT_EQ(effect_notation(analysis, "step"), "( ? )");
    EXPECT_TRUE(analysis.diagnostics.empty()) << messages(analysis).front();
}

TEST(Effects, AnIfElseOnOneFlagTakesOneWay) {
    const Analysis analysis = analysed(
        "\\ ack ( m n -- a )\n"
        ":ack over 0 = dup { -rot swap drop 1+ swap } iftrue { ack-m } iffalse ;\n"
        ":ack-m dup 0 = dup { -rot drop 1- 1 ack swap } iftrue { ack-mn } iffalse ;\n"
        ":ack-mn over 1- -rot 1- ack ack ;\n");
    EXPECT_EQ(effect_notation(analysis, "ack"), "( m n -- a )");
    EXPECT_EQ(effect_notation(analysis, "ack-mn"), "( a b -- c )");
}

TEST(Effects, LateBindingAsOfEachCall) {
    const Analysis analysis = analysed(":f 1 ;\n:g f f ;\ng\n:f 1 2 ;\ng\n");
    // Each use of g says what it did when it ran; the definition, what it does now.
    EXPECT_EQ(notation(*analysis.tokens[7].effect), "( -- a b )");
    EXPECT_EQ(notation(*analysis.tokens[12].effect), "( -- a b c d )");
    EXPECT_EQ(effect_notation(analysis, "g"), "( -- a b c d )");
}

// Longer than any fixed number of rounds of guessing.
TEST(Effects, ALongChainIsKnown) {
    std::string text = ":w0 dup * ;\n";
    for (int n = 1; n < 1000; ++n) text += ":w" + std::to_string(n) + " w" + std::to_string(n - 1) + " ;\n";
    const Analysis analysis = analysed(text + ":sq dup * ;\n3 w999 . 4 sq . cr\n");
    EXPECT_EQ(effect_notation(analysis, "w999"), "( a -- b )");
    EXPECT_EQ(effect_notation(analysis, "sq"), "( a -- b )");
    EXPECT_TRUE(analysis.diagnostics.empty()) << messages(analysis).front();
}

TEST(Effects, UnknownWhereTheWaysDiffer) {
    const Analysis analysis = analysed(":odd { 2 } iftrue ;\n:grow 1 grow ;\n");
    EXPECT_EQ(effect_notation(analysis, "odd"), "( ? )");
    EXPECT_EQ(effect_notation(analysis, "grow"), "( ? )");  // never returns
}

TEST(Effects, ACountWrittenInTheListIsSoManyPasses) {
    const Analysis analysis = analysed(":three [ $i ] 3 times ;\n:none [ 1 ] nan times ;\n:some [ 1 ] times ;\n");
    EXPECT_EQ(effect_notation(analysis, "three"), "( -- a b c )");
    EXPECT_EQ(effect_notation(analysis, "none"), "( -- )");  // NaN makes no passes
    EXPECT_EQ(effect_notation(analysis, "some"), "( ? )");
}

TEST(Effects, WhatACallLeavesToRunIsNotTheCallersList) {
    // q closes a list of its own, or quotes one: iftrue runs that, not [ ].
    const Analysis analysis = analysed(":q [ 1 2 3 ] ;\n:w [ ] 1 q iftrue ;\n:r 1 2 3 ;\n:v [ ] 1 'r iftrue ;\n");
    EXPECT_NE(effect_notation(analysis, "w"), "( -- )");
    EXPECT_EQ(effect_notation(analysis, "v"), "( -- a b c )");
}

TEST(Effects, AListThatRunsItselfEnds) {
    const Analysis analysis = analysed(":f { execute } execute ;\n{ execute } execute\n");
    EXPECT_EQ(effect_notation(analysis, "f"), "( ? )");
}

// The comment right above a definition is its own, with the names of its
// effect; a header set apart by a blank or an empty comment line is not.
TEST(Hover, TheDefinitionShowsItsEffectWithTheCommentsNames) {
    Analysis analysis = analysed("\\ A file's header.\n\n\\ square ( n -- n*n )\n:square dup * ;\n");
    EXPECT_EQ(hover_text(analysis, 3, 2), "```tolva\n:square dup * ;\n```\n`( n -- n*n )`\n\nsquare ( n -- n*n )\n");
    EXPECT_EQ(inlay_hints(analysis, document).at(0).label, "( n -- n*n )");
    analysis = analysed("\\ Squares.\n\\\n:square dup * ;\n");
    EXPECT_EQ(hover_text(analysis, 2, 2), "```tolva\n:square dup * ;\n```\n`( a -- b )`\n\n");
}

TEST(Hover, AVariablesPlacesNameTheirFiles) {
    const Analysis analysis =
        analysed("( lib/base.tv ) included\n5 =base $base .\n", {{"file:///p/lib/base.tv", "\n\n0 =base\n"}});
    EXPECT_NE(hover_text(analysis, 1, 9).find("is stored at `lib/base.tv`:3, line 2."), std::string::npos)
        << hover_text(analysis, 1, 9);
}

TEST(Completion, ReplacesWhatIsTypedSigilAndAll) {
    const Analysis analysis = analysed("0 =count\n4 $c\n1 2 3 -r\n");
    const std::vector<CompletionItem> variables = completion(analysis, {1, 4});
    ASSERT_FALSE(variables.empty());
    EXPECT_EQ(variables[0].label, "$count");
    EXPECT_EQ(variables[0].replaces, (Range{{1, 2}, {1, 4}}));
    const std::vector<CompletionItem> after_minus = completion(analysis, {2, 8});
    const auto rot = std::find_if(after_minus.begin(), after_minus.end(),
                                  [](const CompletionItem& item) { return item.label == "-rot"; });
    ASSERT_NE(rot, after_minus.end());
    EXPECT_EQ(rot->replaces, (Range{{2, 6}, {2, 8}}));
}

// Each built-in's effect is declared once, by its row: what the manual
// writes before its description (which hover shows, and the analysis
// reads) must say as much. The kinds up to `effect` take and leave fixed
// counts, so each has one there; a construct's words are its shape.
TEST(Reference, TheManualsEffectsAreTheRows) {
    int checked = 0;
    for (const Builtin& row : vocabulary()) {
        const bool sigil = row.kind == Kind::variable_sigil || row.kind == Kind::fetch_sigil ||
                           row.kind == Kind::opener_sigil || row.kind == Kind::other_sigil;
        const std::optional<Names> names = declared_names(effect_of(describe(row.name, sigil)));
        if (!names) {
            EXPECT_TRUE(row.kind > Kind::effect || is_closer(row.name)) << row.name << " has no effect in the manual";
            continue;
        }
        EXPECT_EQ(names->in.size(), row.in) << row.name;
        EXPECT_EQ(names->out.size(), row.out) << row.name;
        ++checked;
    }
    EXPECT_GT(checked, 50);
}

// The text after `edits`, in places counted in characters of ASCII lines.
std::string edited(const std::string& text, std::vector<TextEdit> edits) {
    std::vector<std::size_t> lines{0};
    for (std::size_t at = 0; at < text.size(); ++at)
        if (text[at] == '\n') lines.push_back(at + 1);
    const auto offset = [&](Position at) { return lines.at(at.line) + at.character; };
    std::sort(edits.begin(), edits.end(), [&](const TextEdit& one, const TextEdit& other) {
        return offset(one.range.start) > offset(other.range.start);
    });
    std::string result = text;
    for (const TextEdit& edit : edits)
        result.replace(offset(edit.range.start), offset(edit.range.end) - offset(edit.range.start), edit.text);
    return result;
}

const Range everything{{0, 0}, {1000, 0}};

TEST(QuickFixes, EachFixLeavesTheDocumentWithoutItsSlip) {
    struct Case {
        const char* before;
        const char* after;
        std::size_t slip = 0;  // the fix of this diagnostic
    };
    const Case cases[] = {
        {": sq dup * ;\n3 sq .\n", ":sq dup * ;\n3 sq .\n"},
        // The ; ends the line before the :name that begins its own, ahead of
        // that line's comment and above lines of comment; on one line, it
        // goes right before the :name.
        {":a 1 2 \\ two numbers\n\\ b leaves 3\n:b 3 ;\n", ":a 1 2 ; \\ two numbers\n\\ b leaves 3\n:b 3 ;\n"},
        {":c 1 :d 2 ;\n", ":c 1 ; :d 2 ;\n"},
        // Stored once, before the line of the first use, whichever use it fixes.
        {":show $n . ;\nshow\n$n .\n", "0 =n :show $n . ;\nshow\n$n .\n", 1},
        {"  [ $n . ] 3 times\n", "  0 =n [ $n . ] 3 times\n"},
        // A line that begins inside a comment: right before the use.
        {"/* a\nb */ $n .\n", "/* a\nb */ 0 =n $n .\n"},
        {"1 ] . cr\n", "1 . cr\n"},
        {"1 2 }\n", "1 2\n"},
        {")\n", "\n"},
        {":square dup * ;\n3 sqaure .\n", ":square dup * ;\n3 square .\n"},
    };
    for (const Case& one : cases) {
        const std::vector<CodeAction> actions = quick_fixes(analysed(one.before), document, everything);
        const auto fix = std::find_if(actions.begin(), actions.end(),
                                      [&](const CodeAction& action) { return action.diagnostic == one.slip; });
        ASSERT_NE(fix, actions.end()) << one.before;
        EXPECT_TRUE(fix->preferred) << one.before;
        EXPECT_EQ(edited(one.before, fix->edits), one.after) << one.before;
        const Analysis fixed = analysed(one.after);
        EXPECT_TRUE(fixed.diagnostics.empty()) << one.after << ": " << messages(fixed).front();
    }
}

// The titles of the fixes offered for the diagnostics of one line.
std::vector<std::string> titles(const std::string& text, int line) {
    std::vector<std::string> found;
    for (const CodeAction& action : quick_fixes(analysed(text), document, {{line, 0}, {line, 1000}}))
        found.push_back(action.title);
    return found;
}

TEST(QuickFixes, SpellingOffersTheWordsKnownThereNearestFirst) {
    using Titles = std::vector<std::string>;
    // dupp is one edit from dup and dupe, two from 2dup and drop.
    EXPECT_EQ(titles(":dupe 1 ;\n1 dupp\n", 1),
              (Titles{"did you mean `dup`?", "did you mean `dupe`?", "did you mean `2dup`?"}));
    // A word defined after the use is not there yet; a body runs later.
    EXPECT_EQ(titles("3 squar .\n:square dup * ;\n", 0), Titles{});
    EXPECT_EQ(titles(":cube dup squar * ;\n:square dup * ;\n", 0), Titles{"did you mean `square`?"});
    EXPECT_EQ(titles(":sqr 1 ;\n3 sq . :sq dup * ;\n", 1), Titles{"did you mean `sqr`?"});
    // Words of up to three characters, one edit, two neighbours swapped
    // being one; any one-character word is one edit from another.
    EXPECT_EQ(titles("1 dpu\n", 0), Titles{"did you mean `dup`?"});
    EXPECT_EQ(titles("1 dpx\n", 0), Titles{});
    EXPECT_EQ(titles("1 x\n", 0), Titles{});
    EXPECT_EQ(titles("1 2 swpa\n", 0), Titles{"did you mean `swap`?"});
}

TEST(QuickFixes, OnlyForTheDiagnosticsTouchingTheRange) {
    const Analysis analysis = analysed("1 ]\n2 ]\n3 ]\n");
    const std::vector<CodeAction> actions = quick_fixes(analysis, document, {{1, 0}, {1, 3}});
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(analysis.diagnostics[actions[0].diagnostic].range.start.line, 1);
    EXPECT_EQ(actions[0].edits, (std::vector<TextEdit>{{{{1, 1}, {1, 3}}, ""}}));
}

TEST(Highlights, WritesWhereANameIsDefinedOrStored) {
    using Kind = Highlight::Kind;
    const Analysis analysis = analysed("0 =n\n[ $n 1+ =n ] 3 times 2 -n\n:sq dup * ; 3 sq . 'sq execute\n");
    EXPECT_EQ(highlights(analysis, {1, 3}), (std::vector<Highlight>{{{{0, 2}, {0, 4}}, Kind::write},
                                                                   {{{1, 2}, {1, 4}}, Kind::read},
                                                                   {{{1, 8}, {1, 10}}, Kind::write},
                                                                   {{{1, 23}, {1, 25}}, Kind::write}}));
    EXPECT_EQ(highlights(analysis, {2, 15}), (std::vector<Highlight>{{{{2, 0}, {2, 3}}, Kind::write},
                                                                    {{{2, 14}, {2, 16}}, Kind::read},
                                                                    {{{2, 19}, {2, 22}}, Kind::read}}));
}

TEST(Folds, ConstructsOverLinesAsTheReaderClosesThem) {
    const Analysis analysis = analysed(
        "\\ Shows\n\\ numbers.\n:show\n  [ $i .\n  ] 3 times ;\n( a ) [ 1 ]\n/* a\nb */\n\\ alone\n"
        "[ 1 [\n2 ]\n]\n");
    // The second [ of the last list is collected, opening nothing; the last ] closes nothing.
    EXPECT_EQ(folds(analysis), (std::vector<Fold>{
                                   {0, 1, true}, {2, 4, false}, {3, 4, false}, {6, 7, true}, {9, 10, false}}));
}

TEST(Rename, WhatCanBeRenamedIsItsName) {
    const Analysis analysis = analysed(":sq dup * ;\n3 sq =x $x\n");
    EXPECT_EQ(rename_range(analysis, {0, 2}), (Range{{0, 1}, {0, 3}}));
    EXPECT_EQ(rename_range(analysis, {1, 3}), (Range{{1, 2}, {1, 4}}));
    EXPECT_EQ(rename_range(analysis, {1, 9}), (Range{{1, 9}, {1, 10}}));
    for (const Position at : {Position{0, 5}, Position{1, 0}, Position{0, 10}}) {
        EXPECT_FALSE(rename_range(analysis, at));
        EXPECT_FALSE(rename(analysis, document, at, "other").refused.empty());
    }
}

TEST(CallHierarchy, ARecursiveWordCallsItself) {
    const Analysis analysis = analysed(
        ":fact dup 1 > { dup 1- fact * } iftrue ;\n:twice fact fact ;\n5 fact . 3 twice .\n");
    const std::vector<CallItem> items = call_items(analysis, document, {2, 3});
    ASSERT_EQ(items.size(), 1u);
    const CallItem& fact = items[0];
    EXPECT_EQ(fact.name, "fact");
    EXPECT_EQ(fact.range, (Range{{0, 0}, {0, 40}}));
    EXPECT_EQ(fact.selection, (Range{{0, 0}, {0, 5}}));
    EXPECT_EQ(call_items(analysis, document, {0, 2}).at(0).range, fact.range);

    const std::vector<Call> incoming = incoming_calls(analysis, document, fact);
    ASSERT_EQ(incoming.size(), 3u);
    EXPECT_EQ(incoming[0].item.name, "fact");
    EXPECT_EQ(incoming[0].at, (std::vector<Range>{{{0, 23}, {0, 27}}}));
    EXPECT_EQ(incoming[1].item.name, "twice");
    EXPECT_EQ(incoming[1].at, (std::vector<Range>{{{1, 7}, {1, 11}}, {{1, 12}, {1, 16}}}));
    EXPECT_TRUE(incoming[2].item.top_level);
    EXPECT_EQ(incoming[2].at, (std::vector<Range>{{{2, 2}, {2, 6}}}));

    const std::vector<Call> outgoing = outgoing_calls(analysis, document, fact);
    ASSERT_EQ(outgoing.size(), 1u);
    EXPECT_EQ(outgoing[0].item.selection, fact.selection);
    const std::vector<Call> from_top = outgoing_calls(analysis, document, incoming[2].item);
    ASSERT_EQ(from_top.size(), 2u);
    EXPECT_EQ(from_top[1].item.name, "twice");
    EXPECT_EQ(from_top[1].at, (std::vector<Range>{{{2, 11}, {2, 16}}}));
}

TEST(CallHierarchy, WordsOfAnIncludedFile) {
    const Analysis analysis = analysed("( lib.tv ) included\n:cube dup sq * ;\n",
                                       {{"file:///p/lib.tv", "\\ squares\n:sq dup * ;\n"}});
    const CallItem cube = call_items(analysis, document, {1, 1}).at(0);
    const std::vector<Call> outgoing = outgoing_calls(analysis, document, cube);
    ASSERT_EQ(outgoing.size(), 1u);
    EXPECT_EQ(outgoing[0].item.uri, "file:///p/lib.tv");
    EXPECT_EQ(outgoing[0].item.selection, (Range{{1, 0}, {1, 3}}));
    const std::vector<Call> incoming = incoming_calls(analysis, document, outgoing[0].item);
    ASSERT_EQ(incoming.size(), 1u);
    EXPECT_EQ(incoming[0].item.name, "cube");
}

}  // namespace
}  // namespace forth::lsp
