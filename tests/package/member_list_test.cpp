#include "member_list.h"

#include <gtest/gtest.h>

using pelorim::is_unsafe_member_name;
using pelorim::split_member_lines;
using Lines = std::vector<std::string>;

TEST(MemberList, LinesEndAtCrCrLfLfOrTheEnd) {
    EXPECT_EQ(split_member_lines("a\r\nb\rc\nd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(split_member_lines("a\r\n"), (Lines{"a"}));
    EXPECT_EQ(split_member_lines(""), Lines{});
    EXPECT_EQ(split_member_lines("\r\n\r\n"), (Lines{"", ""}));
}

TEST(MemberList, NothingIsTrimmedAndCaseIsKept) {
    EXPECT_EQ(split_member_lines(" tq318.exe \r\nAUTH.KEY"), (Lines{" tq318.exe ", "AUTH.KEY"}));
}

TEST(MemberList, NamesThatLeaveTheFolderAreUnsafe) {
    for (const char* bad : {"/etc/passwd", "../x", "a/b", "a\\b", "\\x", ".", ".."}) {
        EXPECT_TRUE(is_unsafe_member_name(bad)) << bad;
    }
    EXPECT_TRUE(is_unsafe_member_name(std::string_view("a\0b", 3)));
    for (const char* ok : {"", "tq318.exe", "..hidden", "a..b", " spaced ", ".exe"}) {
        EXPECT_FALSE(is_unsafe_member_name(ok)) << ok;
    }
}
