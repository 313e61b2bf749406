#include "app/screen_line.hpp"

#include <algorithm>
#include <iostream>

namespace forth {

ScreenLine::ScreenLine() : out_(*this, std::cout), err_(*this, std::cerr) {}

ScreenLine::~ScreenLine() = default;

void ScreenLine::note(std::string_view written) {
    const std::size_t newline = written.rfind('\n');
    if (newline != std::string_view::npos) {
        text_.clear();
        written.remove_prefix(newline + 1);
    }
    text_.append(written.substr(0, max_kept + 1 - std::min(text_.size(), max_kept + 1)));
}

ScreenLine::Tap::Tap(ScreenLine& line, std::ios& stream) : line_(line), stream_(stream), target_(stream.rdbuf(this)) {}

ScreenLine::Tap::~Tap() { stream_.rdbuf(target_); }

ScreenLine::Tap::int_type ScreenLine::Tap::overflow(int_type character) {
    if (traits_type::eq_int_type(character, traits_type::eof())) return traits_type::not_eof(character);
    const char written = traits_type::to_char_type(character);
    line_.note(std::string_view(&written, 1));
    return target_->sputc(written);
}

std::streamsize ScreenLine::Tap::xsputn(const char* text, std::streamsize count) {
    line_.note(std::string_view(text, static_cast<std::size_t>(count)));
    return target_->sputn(text, count);
}

int ScreenLine::Tap::sync() { return target_->pubsync(); }

}  // namespace forth
