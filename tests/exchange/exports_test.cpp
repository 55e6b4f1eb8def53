// The exports' edges: the shared library's export set, the checksum, the
// error text and the prompt wait over a pseudo-terminal. The checksum itself
// is checked block by block by the simulator's own implementation
// (tests/transfer); the texts each export writes, with the exports (tests/queries).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "exchange.h"
#include "port_on_pty.h"
#include "tovrane.h"

namespace {

// The shared library exports what tovrane.dll exports (tovrane.def), and nothing else.
TEST(Exports, TheLibraryExportsWhatTheDllExports) {
    std::set<std::string> listed, found;
    std::ifstream def(TOVRANE_DEF_PATH);
    for (std::string word; def >> word;)
        if (word.starts_with("TOV_") || word.ends_with("CRC16Table") || word == "GetCRC16") listed.insert(word);
    ASSERT_FALSE(listed.empty()) << TOVRANE_DEF_PATH;
    const std::string command = "nm -D --defined-only '" TOVRANE_SO_PATH "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    ASSERT_TRUE(pipe);
    char address[64], kind[8], name[400];
    while (std::fscanf(pipe.get(), "%63s %7s %399s", address, kind, name) == 3) found.insert(name);
    // Linker-made markers are not functions of ours.
    for (const char* marker : {"_init", "_fini", "__bss_start", "_edata", "_end"}) found.erase(marker);
    EXPECT_EQ(found, listed);
}

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

using Console = testing_support::PortOnPty;

// Only a carriage return goes out, and the prompt is found after other bytes;
// a hung-up line or a port that is not open cannot answer: 16, not 15.
TEST_F(Console, GetPromptSendsACarriageReturnAndWaitsForThePrompt) {
    answer("\r", "\r\nboot noise ... \r\nTQ318-5314A>");
    EXPECT_EQ(TOV_GetPrompt(kPort, 200, '>'), 0);
    far_end.join();
    EXPECT_EQ(heard, "\r");
    peer.close_master();
    EXPECT_EQ(TOV_GetPrompt(kPort, 500, '>'), TOV_ERR_LINE_FAILED);
    EXPECT_EQ(TOV_GetPrompt(99, 500, '>'), TOV_ERR_LINE_FAILED);  // never opened
}

}  // namespace
