#include "lsp/text_changes.hpp"

#include <climits>
#include <stdexcept>
#include <string>

namespace forth::lsp {

namespace {

bool is_break(char c) { return c == '\n' || c == '\r'; }

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The UTF-16 code units of the character whose UTF-8 form begins with `lead`.
int units_of(char lead) { return static_cast<unsigned char>(lead) >= 0xF0 ? 2 : 1; }

// Applying changes may move the place it edits across this many times the
// bytes of the text and of the changes, and this many bytes more. Changes
// that go down or up the text (as an editor sends those of several
// cursors) need a few times; only changes that jump to and fro need more.
constexpr std::size_t moves_per_byte = 16;
constexpr std::size_t free_moves = std::size_t{16} << 20;

// A text being changed, split at a cursor: the bytes before it, and those
// after it in reverse order, so that moving the cursor, or changing the
// text at it, costs what is moved or changed. The cursor's line and column
// (in UTF-16 units) are kept as it moves.
class Editor {
public:
    explicit Editor(std::string_view text) : after_(text.rbegin(), text.rend()) {}

    void replace(const Range& range, std::string_view text) {
        move_to(range.start);
        const std::size_t length = distance_to(range.end);
        after_.resize(after_.size() - length);
        after_.append(text.rbegin(), text.rend());
        moved_ += length + text.size();
        // A "\r" that ended the line above and a "\n" now after it are one
        // line break: the cursor goes past it, to the start of its line.
        if (!before_.empty() && before_.back() == '\r' && !after_.empty() && after_.back() == '\n') forward(1);
    }

    std::size_t size() const { return before_.size() + after_.size(); }
    std::size_t moved() const { return moved_; }

    std::string text() && {
        before_.append(after_.rbegin(), after_.rend());
        return std::move(before_);
    }

private:
    // The byte `k` places after the cursor.
    char ahead(std::size_t k) const { return after_[after_.size() - 1 - k]; }

    // The length of the line break `k` bytes after the cursor.
    std::size_t break_at(std::size_t k) const {
        return ahead(k) == '\r' && k + 1 < after_.size() && ahead(k + 1) == '\n' ? 2 : 1;
    }

    // Where the line goes on from `k` bytes after the cursor, at `column`,
    // to column `limit` or its end: the bytes after the cursor there.
    std::size_t along_line(std::size_t k, int& column, int limit) const {
        while (k < after_.size() && !is_break(ahead(k)) && column + units_of(ahead(k)) <= limit) {
            column += units_of(ahead(k));
            ++k;
            while (k < after_.size() && is_continuation(ahead(k))) ++k;
        }
        return k;
    }

    void forward(std::size_t count) {
        before_.append(after_.rbegin(), after_.rbegin() + static_cast<std::ptrdiff_t>(count));
        after_.resize(after_.size() - count);
        moved_ += count;
    }

    void back(std::size_t count) {
        after_.append(before_.rbegin(), before_.rbegin() + static_cast<std::ptrdiff_t>(count));
        before_.resize(before_.size() - count);
        moved_ += count;
    }

    // The bytes before the cursor back to the start of its line, the line
    // break before it skipped first when `over_break`.
    std::size_t to_line_start(bool over_break) const {
        std::size_t count = 0;
        if (over_break) count = before_.size() > 1 && before_.back() == '\n' && before_[before_.size() - 2] == '\r' ? 2 : 1;
        while (count < before_.size() && !is_break(before_[before_.size() - 1 - count])) ++count;
        return count;
    }

    void move_to(Position at) {
        if (at.line < line_) {
            back(to_line_start(false));
            for (; line_ > at.line; --line_) back(to_line_start(true));
            column_ = 0;
        } else if (at.line == line_ && at.character < column_) {
            // Back along the line, a character at a time.
            std::size_t count = 0;
            while (column_ > at.character) {
                std::size_t bytes = 1;
                while (is_continuation(before_[before_.size() - count - bytes])) ++bytes;
                column_ -= units_of(before_[before_.size() - count - bytes]);
                count += bytes;
            }
            back(count);
        }
        for (; line_ < at.line; ++line_) {
            int column = column_;
            const std::size_t end = along_line(0, column, INT_MAX);
            if (end == after_.size()) {
                // No line below: the end of the text.
                forward(end);
                column_ = column;
                return;
            }
            forward(end + break_at(end));
            column_ = 0;
        }
        int column = column_;
        forward(along_line(0, column, at.character));
        column_ = column;
    }

    // The bytes from the cursor to `at`, which is not before it.
    std::size_t distance_to(Position at) {
        std::size_t k = 0;
        int column = column_;
        for (int line = line_; line < at.line; ++line) {
            k = along_line(k, column, INT_MAX);
            if (k == after_.size()) break;
            k += break_at(k);
            column = 0;
        }
        k = along_line(k, column, at.character);
        moved_ += k;
        return k;
    }

    std::string before_, after_;
    int line_ = 0, column_ = 0;
    std::size_t moved_ = 0;
};

}  // namespace

void apply_changes(std::string& text, std::span<const TextChange> changes) {
    // What comes before the last whole text is of no use.
    auto from = changes.end();
    while (from != changes.begin() && (from - 1)->range) --from;
    const std::string_view base = from != changes.begin() ? (from - 1)->text : std::string_view(text);
    std::size_t bytes = base.size();
    for (auto change = from; change != changes.end(); ++change) bytes += change->text.size();
    const std::size_t most_moved = moves_per_byte * bytes + free_moves;
    Editor editor(base);
    for (auto change = from;; ++change) {
        if (editor.size() > most_text)
            throw std::length_error("the text would hold more than " + std::to_string(most_text >> 20) + " MiB");
        if (editor.moved() > most_moved)
            throw std::length_error("the changes jump to and fro too much to be applied in time");
        if (change == changes.end()) break;
        editor.replace(*change->range, change->text);
    }
    text = std::move(editor).text();
}

}  // namespace forth::lsp
