#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "lsp/text_changes.hpp"

namespace {

using forth::lsp::apply_changes;
using forth::lsp::Range;
using forth::lsp::TextChange;

TextChange change(int line, int character, int end_line, int end_character, std::string_view text) {
    return {Range{{line, character}, {end_line, end_character}}, text};
}

std::string applied(std::string text, const std::vector<TextChange>& changes) {
    apply_changes(text, changes);
    return text;
}

struct Case {
    const char* what;
    std::string text;
    std::vector<TextChange> changes;
    std::string expected;
};

// Where the line ends and the characters are as the protocol counts them,
// and what each change of a message sees of those before it.
TEST(TextChanges, AsTheProtocolCounts) {
    const Case cases[] = {
        {"a lone \\r ends a line", "a\rb\rc", {change(1, 0, 1, 1, "X")}, "a\rX\rc"},
        {"\\r\\n is one line break", "a\r\nb", {change(1, 0, 1, 1, "X")}, "a\r\nX"},
        {"past the end of a line is before its \\r\\n", "a\r\nb", {change(0, 9, 0, 9, "Y")}, "aY\r\nb"},
        {"past the last line is the end", "ab\n", {change(7, 3, 9, 0, "c")}, "ab\nc"},
        {"into an empty text", "", {change(5, 5, 6, 0, "a")}, "a"},
        {"from the start past the end: all of it", "a\nb\n", {change(0, 0, 99, 0, "")}, ""},
        {"ü is one unit of two bytes", "üb", {change(0, 1, 0, 2, "c")}, "üc"},
        {"an emoji is two units of four bytes", "😀b", {change(0, 2, 0, 3, "c")}, "😀c"},
        {"inside an emoji is where it begins", "x😀y", {change(0, 2, 0, 2, "Z")}, "xZ😀y"},
        {"a range ending inside an emoji stops before it", "x😀y", {change(0, 0, 0, 2, "")}, "😀y"},
        {"several cursors, from the last to the first", "aaaa",
         {change(0, 3, 0, 4, "b"), change(0, 1, 0, 2, "b")}, "abab"},
        {"each change sees the lines the one before made", "l0\nl1\nl2",
         {change(0, 0, 0, 0, "new\n"), change(2, 0, 2, 2, "L1"), change(3, 2, 3, 2, "!")}, "new\nl0\nL1\nl2!"},
        {"up and down again", "ab\ncd\nef",
         {change(2, 1, 2, 1, "1"), change(0, 1, 0, 1, "2"), change(1, 2, 1, 2, "3"), change(0, 0, 2, 0, "")},
         "e1f"},
        {"a \\n put after a lone \\r makes one break with it", "a\rb",
         {change(1, 0, 1, 0, "\nc"), change(1, 0, 1, 0, "Z"), change(1, 3, 1, 3, "!")}, "a\r\nZcb!"},
        {"a whole text: the changes before it are of no use", "old",
         {change(0, 0, 0, 3, "gone"), {std::nullopt, "new\ntext"}, change(1, 0, 1, 0, "the ")}, "new\nthe text"},
    };
    for (const Case& one : cases) EXPECT_EQ(applied(one.text, one.changes), one.expected) << one.what;
}

// The byte of `text` at `at`, counted from its start as the protocol says.
std::size_t offset_of(const std::string& text, forth::lsp::Position at) {
    const auto is_break = [&](std::size_t i) { return text[i] == '\n' || text[i] == '\r'; };
    std::size_t i = 0;
    for (int line = 0; line < at.line; ++line) {
        while (i < text.size() && !is_break(i)) ++i;
        if (i == text.size()) return i;
        i += text.compare(i, 2, "\r\n") == 0 ? 2 : 1;
    }
    for (int units = 0; i < text.size() && !is_break(i);) {
        units += static_cast<unsigned char>(text[i]) >= 0xF0 ? 2 : 1;
        if (units > at.character) break;
        for (++i; i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;) ++i;
    }
    return i;
}

// Random texts of a few lines, with every kind of line break and
// characters of one and two units, changed at random as a text whose
// places are counted from its start each time would be.
TEST(TextChanges, AsCountedFromTheStartEachTime) {
    std::mt19937 random(2024);
    const std::string pieces[] = {"a", "\n", "\r", "\r\n", "ü", "😀"};
    const auto some = [&](unsigned most) {
        std::string text;
        for (unsigned count = random() % most; count > 0; --count) text += pieces[random() % std::size(pieces)];
        return text;
    };
    for (int round = 0; round < 20'000; ++round) {
        const std::string text = some(30);
        std::vector<std::string> inserted;
        for (unsigned count = 1 + random() % 10; count > 0; --count) inserted.push_back(some(4));
        std::vector<TextChange> changes;
        std::string expected = text;
        for (const std::string& insert : inserted) {
            forth::lsp::Position start{static_cast<int>(random() % 9), static_cast<int>(random() % 8)};
            forth::lsp::Position end{static_cast<int>(random() % 9), static_cast<int>(random() % 8)};
            if (end.line < start.line || (end.line == start.line && end.character < start.character))
                std::swap(start, end);
            changes.push_back({Range{start, end}, insert});
            const std::size_t from = offset_of(expected, start);
            expected.replace(from, offset_of(expected, end) - from, insert);
        }
        ASSERT_EQ(applied(text, changes), expected) << "round " << round;
    }
}

// Changes that go up or down a long text, as an editor sends those of
// several cursors, are applied however many; ones that jump to and fro
// between its ends are refused before they take time in the square of its
// size, and so is a text past most_text, the text left as it was.
TEST(TextChanges, BoundedInSizeAndTime) {
    std::string text;
    for (int line = 0; line < 100'000; ++line) text += "0123456789\n";
    std::vector<TextChange> down, up, to_and_fro;
    for (int line = 0; line < 100'000; line += 50) down.push_back(change(line, 5, line, 5, "x"));
    for (int line = 99'950; line >= 0; line -= 50) up.push_back(change(line, 5, line, 6, ""));
    for (int pass = 0; pass < 1000; ++pass) {
        to_and_fro.push_back(change(0, 0, 0, 0, "x"));
        to_and_fro.push_back(change(99'999, 0, 99'999, 0, "x"));
    }
    std::string changed = applied(text, down);
    EXPECT_EQ(changed.size(), text.size() + down.size());
    EXPECT_EQ(changed.substr(50 * 11 + 1, 12), "01234x56789\n");  // line 50, after the x of line 0
    EXPECT_EQ(applied(changed, up), text);

    std::string kept = text;
    EXPECT_THROW(apply_changes(kept, to_and_fro), std::length_error);
    EXPECT_EQ(kept, text);

    std::string full(forth::lsp::most_text, 'a');
    EXPECT_THROW(apply_changes(full, std::vector{change(0, 0, 0, 0, "b")}), std::length_error);
    EXPECT_EQ(full.size(), forth::lsp::most_text);
    EXPECT_EQ(full.front(), 'a');
    const std::string too_long(forth::lsp::most_text + 1, 'a');
    std::string small = "small";
    EXPECT_THROW(apply_changes(small, std::vector{TextChange{std::nullopt, too_long}}), std::length_error);
    EXPECT_EQ(small, "small");
}

}  // namespace
