#include "member_list.h"

#include <gtest/gtest.h>

using tq318::repair::splitMemberLines;
using Lines = std::vector<std::string>;

TEST(MemberList, LinesEndAtCrCrLfLfOrTheEnd) {
    EXPECT_EQ(splitMemberLines("a\r\nb\rc\nd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(splitMemberLines("a\r\n"), (Lines{"a"}));
    EXPECT_EQ(splitMemberLines(""), Lines{});
    EXPECT_EQ(splitMemberLines("\r\n\r\n"), (Lines{"", ""}));
}

TEST(MemberList, NothingIsTrimmedAndCaseIsKept) {
    EXPECT_EQ(splitMemberLines(" tq318.exe \r\nAUTH.KEY"), (Lines{" tq318.exe ", "AUTH.KEY"}));
}
