#pragma once

#include <ios>
#include <streambuf>
#include <string>
#include <string_view>

namespace forth {

// Follows what standard output and standard error leave on the terminal's
// current line. A line editor draws its line from the first column, so it
// must know that text to draw it again rather than over it.
class ScreenLine {
public:
    // Taps std::cout and std::cerr until destroyed; what they write still
    // goes where it went.
    ScreenLine();
    ~ScreenLine();
    ScreenLine(const ScreenLine&) = delete;
    ScreenLine& operator=(const ScreenLine&) = delete;

    // What was written since the last newline. Past `max_kept` bytes only
    // the first max_kept + 1 are kept: too long to draw again anyway.
    const std::string& text() const { return text_; }
    // For whoever ends the line by other means (an editor taking a line).
    void clear() { text_.clear(); }

    static constexpr std::size_t max_kept = 1024;

private:
    class Tap : public std::streambuf {
    public:
        Tap(ScreenLine& line, std::ios& stream);
        ~Tap() override;
        Tap(const Tap&) = delete;
        Tap& operator=(const Tap&) = delete;

    protected:
        int_type overflow(int_type character) override;
        std::streamsize xsputn(const char* text, std::streamsize count) override;
        int sync() override;

    private:
        ScreenLine& line_;
        std::ios& stream_;
        std::streambuf* const target_;
    };

    void note(std::string_view written);

    std::string text_;
    Tap out_;
    Tap err_;
};

}  // namespace forth
