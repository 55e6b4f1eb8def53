// The error text's edges; the texts each export writes, the model check and
// the last-character check are covered with the exports (tests/queries).
#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
