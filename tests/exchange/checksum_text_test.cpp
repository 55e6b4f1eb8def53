// The checksum and error-text exports' edges. The checksum itself is checked
// block by block by the simulator's own implementation (tests/transfer); the
// texts each export writes, with the exports (tests/queries).
#include <gtest/gtest.h>

#include <cstring>

#include "exchange.h"
#include "tovrane.h"

namespace {

const uint8_t kCheck[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

// Runs before any test builds the table (each discovered test runs in its own process).
TEST(Crc16Xmodem, GivesZeroUntilTheTableIsBuilt) { EXPECT_EQ(GetCRC16(kCheck, sizeof kCheck), 0); }

TEST(Crc16Xmodem, GivesTheCheckValue) {
    MakeCRC16Table();
    MakeCRC16Table();  // a second build changes nothing
    EXPECT_EQ(GetCRC16(kCheck, sizeof kCheck), 0x31C3);
    EXPECT_EQ(GetCRC16(nullptr, 0), 0);  // count 0 reads nothing
}

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
