// The error text's edges and the small checks of a reply; the texts each
// export writes are checked with the exports (tests/queries/exports_test.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exchange.h"
#include "tovrane.h"

namespace {

TEST(ErrorText, CodesAbove65535PrintTheirLow16Bits) {
    char reply[1001];
    tovrane::format_error_text(reply, "ver", 65536 + 46);
    EXPECT_STREQ(reply, "ver Error!, Code:46, ");
    tovrane::format_error_text(reply, nullptr, 0x1FFFF);
    EXPECT_STREQ(reply, "\r\n(null) Error!, Code:65535, ");
}

TEST(ErrorText, IsGetErrorStringLeavesTheBufferAlone) {
    char text[32];
    std::memset(text, 0x5A, sizeof text);
    TOV_IsGetErrorString(46, text);
    for (char c : text) EXPECT_EQ(c, 0x5A);
    TOV_IsGetErrorString(0, nullptr);  // and tolerates no buffer
}

TEST(ModelCheck, TokensAreFoundInAnyCaseAndTheReplyIsLowerCased) {
    char a[] = "\r\nTQ318-5314A>";
    EXPECT_EQ(tovrane::check_controller_model(a), 0);
    EXPECT_STREQ(a, "\r\ntq318-5314a>");
    char b[] = "KX2K>";
    EXPECT_EQ(tovrane::check_controller_model(b), 0);
    char c[] = "sw-4400>";
    EXPECT_EQ(tovrane::check_controller_model(c), 0);
    char d[] = "5312A>";
    EXPECT_EQ(tovrane::check_controller_model(d), 0);
    char e[] = "\r\nTQ318-9000X>";
    EXPECT_EQ(tovrane::check_controller_model(e), 55);
    char f[] = "";
    EXPECT_EQ(tovrane::check_controller_model(f), 55);
}

TEST(LastCharacter, EmptyAndTrailingTextFail) {
    EXPECT_FALSE(tovrane::ends_with_char("", '>'));
    EXPECT_FALSE(tovrane::ends_with_char(nullptr, '>'));
    EXPECT_FALSE(tovrane::ends_with_char("X> ", '>'));
    EXPECT_FALSE(tovrane::ends_with_char("X>\r\n", '>'));
    EXPECT_TRUE(tovrane::ends_with_char(">", '>'));
    EXPECT_TRUE(tovrane::ends_with_char("ready !", '!'));
}

}  // namespace
