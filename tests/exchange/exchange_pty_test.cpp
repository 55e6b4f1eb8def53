// The exchange and the prompt wait over a real pseudo-terminal, with the test
// playing the console byte by byte.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "exchange.h"
#include "pty_peer.h"
#include "tovrane.h"
#include "uart.h"

using namespace std::chrono;
using testing_support::ComMapping;
using testing_support::PtyPeer;

namespace {

constexpr uint8_t kPort = 21;

class Console : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), UART_OK); }
    void TearDown() override {
        if (device.joinable()) device.join();
        Close_Com(kPort);
    }
    // Answers `reply` once `command` has arrived.
    void answer(std::string command, std::string reply) {
        device = std::thread([this, command, reply] {
            peer.read_until(command, 2s);
            peer.write(reply);
        });
    }
    PtyPeer peer;
    ComMapping mapping{kPort, peer.slave_path()};
    std::thread device;
    char reply[1001];
};

TEST_F(Console, EmptyLineReplyWithoutPromptFails) {
    answer("gateway\r", "\r\n");
    EXPECT_EQ(tovrane::exchange(kPort, "gateway", reply, 300, '>'), UART_ERR_TIMEOUT);
    EXPECT_STREQ(reply, "gateway Error!, Code:9, ");
}

TEST_F(Console, GetPromptFindsThePromptAfterOtherBytes) {
    answer("\r", "\r\nboot noise ... \r\nTQ318-5314A>");
    EXPECT_EQ(TOV_GetPrompt(kPort, 200, '>'), 0);
    EXPECT_EQ(peer.received(), "\r");
}

// A hung-up line or a port that is not open cannot answer: 16 at once, not
// after the time-out.
TEST_F(Console, GetPromptOnAHungUpOrClosedPortFailsAtOnce) {
    peer.close_master();
    for (const uint8_t port : {kPort, uint8_t{99}}) {  // 99: never opened
        const auto t0 = steady_clock::now();
        EXPECT_EQ(TOV_GetPrompt(port, 5000, '>'), TOV_ERR_LINE_FAILED);
        EXPECT_LT(steady_clock::now() - t0, 100ms);
    }
}

}  // namespace
