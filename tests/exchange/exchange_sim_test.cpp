// The exchange against the simulated controller and its fault modes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "exchange.h"
#include "pty_peer.h"
#include "tovrane.h"
#include "tq318/simulator.h"
#include "uart.h"

using namespace std::chrono;
using testing_support::ComMapping;

namespace {

constexpr uint8_t kPort = 22;

class Controller : public ::testing::Test {
protected:
    void SetUp() override {
        sim.start();
        ASSERT_TRUE(sim.wait_until_ready(5s));
        ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), UART_OK);
    }
    void TearDown() override { Close_Com(kPort); }
    void fault(auto&& change) {
        tq318::Faults f = sim.faults();
        change(f);
        sim.set_faults(f);
    }
    tq318::Simulator sim;
    ComMapping mapping{kPort, sim.device_path()};
    char reply[1001];
};

TEST_F(Controller, BlankCommandAnswersWithThePrompt) {
    EXPECT_EQ(tovrane::exchange(kPort, " ", reply, 1000, '>'), 0);
    EXPECT_STREQ(reply, "\r\nTQ318-5314A>");
    EXPECT_TRUE(sim.wait_for_line(" ", 1s));
}

TEST_F(Controller, UnknownCommandStillEndsWithThePrompt) {
    EXPECT_EQ(tovrane::exchange(kPort, "frobnicate", reply, 1000, '>'), 0);
    EXPECT_NE(std::strstr(reply, "frobnicate"), nullptr);
    EXPECT_TRUE(tovrane::ends_with_char(reply, '>'));
}

TEST_F(Controller, GarbageBeforeTheReplyIsKeptInIt) {
    fault([](auto& f) { f.garbage_before_reply = 40; });
    EXPECT_EQ(tovrane::exchange(kPort, "ip", reply, 1000, '>'), 0);
    EXPECT_NE(std::strstr(reply, "IP="), nullptr);
    EXPECT_GE(std::strlen(reply), 40u);
}

TEST_F(Controller, TextAfterThePromptFailsTheExchange) {
    fault([](auto& f) { f.text_after_prompt = " "; });
    EXPECT_EQ(tovrane::exchange(kPort, "ip", reply, 500, '>'), UART_ERR_TIMEOUT);
    EXPECT_STREQ(reply, "ip Error!, Code:9, ");
}

TEST_F(Controller, VeryLongReplyIsCutAndReported) {
    fault([](auto& f) { f.long_reply_bytes = 5000; });
    EXPECT_EQ(tovrane::exchange(kPort, "ver", reply, 2000, '>'), UART_ERR_TOO_LONG);
    EXPECT_STREQ(reply, "ver Error!, Code:11, ");
}

TEST_F(Controller, SlowReplyWithinTheTimeoutSucceeds) {
    fault([](auto& f) { f.reply_delay_ms = 300; });
    const auto t0 = steady_clock::now();
    EXPECT_EQ(tovrane::exchange(kPort, "mask", reply, 1000, '>'), 0);
    EXPECT_GE(steady_clock::now() - t0, 290ms);
    fault([](auto& f) { f.reply_delay_ms = 700; });
    EXPECT_EQ(tovrane::exchange(kPort, "mask", reply, 400, '>'), UART_ERR_TIMEOUT);
}

TEST_F(Controller, SilentControllerPassesTheUartCode) {
    fault([](auto& f) { f.silent = true; });
    EXPECT_EQ(tovrane::exchange(kPort, "gateway", reply, 300, '>'), UART_ERR_TIMEOUT);
    EXPECT_STREQ(reply, "gateway Error!, Code:9, ");
    EXPECT_EQ(TOV_GetPrompt(kPort, 200, '>'), TOV_ERR_NO_PROMPT);
}

TEST_F(Controller, GetPromptWaitsOutAStreamOfOtherBytes) {
    fault([](auto& f) { f.byte_stream_ms = 500; });
    const auto t0 = steady_clock::now();
    EXPECT_EQ(TOV_GetPrompt(kPort, 200, '>'), 0);
    EXPECT_GE(steady_clock::now() - t0, 450ms);
}

TEST_F(Controller, HangUpEndsTheExchangeAtOnce) {
    sim.hang_up();
    const auto t0 = steady_clock::now();
    EXPECT_EQ(tovrane::exchange(kPort, "dir", reply, 3000, '>'), UART_ERR_HANGUP);
    EXPECT_LT(steady_clock::now() - t0, 1s);
}

}  // namespace
