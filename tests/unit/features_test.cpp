// The editor's features as plain functions over an analysis: what a token
// means at its place, the effects claimed, hover and completion, with no
// protocol in between.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "lsp/analysis.hpp"
#include "lsp/features.hpp"
#include "lsp/reference.hpp"
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
    EXPECT_EQ(effect_notation(analysis, "b1"), "( -- a b )");
    EXPECT_EQ(effect_notation(analysis, "b2"), "( -- a b c d )");  // true is 1, whose 7 is two values
    EXPECT_EQ(analysis.tokens[4].role, Role::user_word);
    EXPECT_TRUE(hover_text(analysis, 1, 0).starts_with("```tolva\n:7 70 80 ;"));
    EXPECT_EQ(definitions(analysis, {1, 0}).size(), 1u);
    EXPECT_TRUE(analysis.diagnostics.empty()) << messages(analysis).front();
}

TEST(Reading, ATokenMeansWhatItMeansWhereItRuns) {
    // 7 before the definition is a number; a sigil is tried after the words.
    const Analysis analysis = analysed("7 . :7 1 ;\n:$x 7 ; $x .\n");
    EXPECT_EQ(analysis.tokens[0].role, Role::number);
    EXPECT_EQ(analysis.tokens[8].text, "$x");
    EXPECT_EQ(analysis.tokens[8].role, Role::user_word);
    EXPECT_TRUE(analysis.diagnostics.empty()) << messages(analysis).front();
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

TEST(Effects, ALongChainIsKnown) {
    std::string text = ":w0 dup * ;\n";
    for (int n = 1; n < 1000; ++n) text += ":w" + std::to_string(n) + " w" + std::to_string(n - 1) + " ;\n";
    const Analysis analysis = analysed(text + ":sq dup * ;\n");
    EXPECT_EQ(effect_notation(analysis, "w999"), "( a -- b )");
    EXPECT_EQ(effect_notation(analysis, "sq"), "( a -- b )");
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

TEST(Reading, AStringsTokensAreTextAndItsCloserACloser) {
    const Analysis analysis = analysed("( a b ) ..\n:s ( c ) .. ;\n");
    EXPECT_EQ(analysis.tokens[1].role, Role::text);
    EXPECT_EQ(analysis.tokens[3].role, Role::closer);
    EXPECT_EQ(analysis.tokens[7].role, Role::text);
    EXPECT_EQ(analysis.tokens[8].role, Role::closer);
}

TEST(Hover, TheDefinitionShowsItsEffectWithTheCommentsNames) {
    const Analysis analysis = analysed("\\ A file's header.\n\n\\ square ( n -- n*n )\n:square dup * ;\n");
    const std::string text = hover_text(analysis, 3, 2);
    EXPECT_EQ(text, "```tolva\n:square dup * ;\n```\n`( n -- n*n )`\n\nsquare ( n -- n*n )\n");
    EXPECT_EQ(inlay_hints(analysis, document).at(0).label, "( n -- n*n )");
}

TEST(Hover, AHeaderSetApartIsNoWordsComment) {
    const Analysis analysis = analysed("\\ Squares.\n\\\n:square dup * ;\n");
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
// writes before its description must say as much.
TEST(Reference, TheManualsEffectsAreTheRows) {
    int checked = 0;
    for (const Builtin& row : vocabulary()) {
        const bool sigil = row.kind == Kind::variable_sigil || row.kind == Kind::fetch_sigil ||
                           row.kind == Kind::opener_sigil || row.kind == Kind::other_sigil;
        const std::optional<Names> names = declared_names(effect_of(describe(row.name, sigil)));
        if (!names) continue;
        EXPECT_EQ(names->in.size(), row.in) << row.name;
        EXPECT_EQ(names->out.size(), row.out) << row.name;
        ++checked;
    }
    EXPECT_GT(checked, 50);
}

}  // namespace
}  // namespace forth::lsp
