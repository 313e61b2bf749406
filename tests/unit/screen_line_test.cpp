#include <gtest/gtest.h>

#include "app/screen_line.hpp"
#include "session.hpp"

namespace {

using forth::testing::Redirect;

TEST(ScreenLine, FollowsBothStreamsUpToTheLastNewline) {
    const Redirect out(std::cout), err(std::cerr);
    {
        forth::ScreenLine line;
        std::cout << "7 ";
        EXPECT_EQ(line.text(), "7 ");
        std::cout << 8 << ' ' << std::flush;
        EXPECT_EQ(line.text(), "7 8 ");
        std::cerr << "Out of range: stack underflow\n";
        EXPECT_EQ(line.text(), "");
        std::cout << "a\nb\nName? ";
        EXPECT_EQ(line.text(), "Name? ");
        line.clear();
        EXPECT_EQ(line.text(), "");
        std::cout << std::string(3 * forth::ScreenLine::max_kept, 'x');
        EXPECT_EQ(line.text().size(), forth::ScreenLine::max_kept + 1);
    }
    // Everything reached the streams' own buffers, which they have back.
    std::cout << "!";
    EXPECT_EQ(out.text(), "7 8 a\nb\nName? " + std::string(3 * forth::ScreenLine::max_kept, 'x') + "!");
    EXPECT_EQ(err.text(), "Out of range: stack underflow\n");
}

}  // namespace
