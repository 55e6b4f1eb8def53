// The serial layer's waits and its report of a line that is gone, over a real
// pseudo-terminal: Read_Reply's UART_FLAG_FIRST_BYTES and the
// UART_FLAG_LINE_STATE probe. That the waits sleep in the kernel is checked
// once, on the library's waits built on them (tests/transfer/line_wait_test.cpp).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "pty_peer.h"
#include "uart.h"

using namespace std::chrono;
using testing_support::ComMapping;
using testing_support::PtyPeer;

namespace {

constexpr uint8_t kPort = 11;

class WaitingPort : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), UART_OK); }
    void TearDown() override { Close_Com(kPort); }
    PtyPeer peer;
    ComMapping mapping{kPort, peer.slave_path()};
};

TEST_F(WaitingPort, FirstBytesWaitsOutASilentLine) {
    char reply[16];
    uint16_t count = 99;
    const auto t0 = steady_clock::now();
    EXPECT_EQ(Read_Reply(kPort, reply, sizeof reply, 300, UART_FLAG_FIRST_BYTES, &count), UART_ERR_TIMEOUT);
    EXPECT_GE(steady_clock::now() - t0, 290ms);
    EXPECT_EQ(count, 0);
    EXPECT_STREQ(reply, "");
}

TEST_F(WaitingPort, FirstBytesReturnsWhenTheFirstByteComesAndKeepsWhatDoesNotFit) {
    std::thread far_end([&] {
        std::this_thread::sleep_for(50ms);
        peer.write(std::string("\x06" "abc\0de", 7));
    });
    char reply[5];
    uint16_t count = 0;
    const auto t0 = steady_clock::now();
    EXPECT_EQ(Read_Reply(kPort, reply, sizeof reply, 5000, UART_FLAG_FIRST_BYTES, &count), UART_OK);
    EXPECT_LT(steady_clock::now() - t0, 2s);
    far_end.join();
    // No settle time: at most capacity-1 bytes, and the rest stays on the line.
    ASSERT_GE(count, 1);
    ASSERT_LE(count, 4);
    std::string got(reply, count);
    EXPECT_EQ(reply[count], '\0');
    for (int i = 0; i < 5 && got.size() < 7; ++i) {
        ASSERT_EQ(Read_Reply(kPort, reply, sizeof reply, 1000, UART_FLAG_FIRST_BYTES, &count), UART_OK);
        got.append(reply, count);
    }
    EXPECT_EQ(got, std::string("\x06" "abc\0de", 7));
}

TEST_F(WaitingPort, FirstBytesNeedsRoomForAByte) {
    char reply[1];
    EXPECT_EQ(Read_Reply(kPort, reply, 1, 10, UART_FLAG_FIRST_BYTES, nullptr), UART_ERR_BAD_ARGUMENT);
}

TEST_F(WaitingPort, AHangUpEndsTheSleepAtOnce) {
    std::thread unplug([&] {
        std::this_thread::sleep_for(100ms);
        peer.close_master();
    });
    char reply[16];
    const auto t0 = steady_clock::now();
    EXPECT_EQ(Read_Reply(kPort, reply, sizeof reply, 5000, UART_FLAG_FIRST_BYTES, nullptr), UART_ERR_HANGUP);
    EXPECT_LT(steady_clock::now() - t0, 1s);
    unplug.join();
}

TEST_F(WaitingPort, LineStateSaysWhetherTheLineIsUpWithoutReading) {
    char buffer[UART_TEXT_CAPACITY] = "kept";
    peer.write(">");
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(Receive_Cmd(kPort, buffer, 1, UART_FLAG_LINE_STATE, nullptr), UART_OK);
    EXPECT_EQ(Read_Reply(kPort, buffer, sizeof buffer, 1, UART_FLAG_LINE_STATE, nullptr), UART_OK);
    EXPECT_STREQ(buffer, "kept");
    uint8_t byte = 0;
    EXPECT_EQ(Read_Raw(kPort, &byte, 1), 1);  // the byte was left for the next read
    EXPECT_EQ(byte, '>');
    peer.close_master();
    EXPECT_EQ(Receive_Cmd(kPort, buffer, 1, UART_FLAG_LINE_STATE, nullptr), UART_ERR_HANGUP);
    EXPECT_EQ(Read_Reply(kPort, buffer, sizeof buffer, 1, UART_FLAG_LINE_STATE, nullptr), UART_ERR_HANGUP);
    EXPECT_EQ(Receive_Cmd(77, buffer, 1, UART_FLAG_LINE_STATE, nullptr), UART_ERR_NOT_OPEN);
}

}  // namespace
