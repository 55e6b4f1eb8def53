#include "member_list.h"

#include <gtest/gtest.h>

using Lines = std::vector<std::string>;

// Lines end at CR, CR LF, LF or the end; nothing is trimmed and case is kept.
TEST(MemberList, Lines) {
    const std::pair<const char*, Lines> rows[] = {
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}}, {"a\r\n", {"a"}}, {"", {}}, {"\r\n\r\n", {"", ""}},
        {" tq318.exe \r\nAUTH.KEY", {" tq318.exe ", "AUTH.KEY"}}};
    for (const auto& [text, lines] : rows) EXPECT_EQ(tq318::repair::splitMemberLines(text), lines) << text;
}
