// The uart layer over a real pseudo-terminal.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "pty_peer.h"
#include "trace.h"
#include "uart.h"

using namespace std::chrono;
using testing_support::ComMapping;
using testing_support::PtyPeer;

namespace {

constexpr uint8_t kPort = 9;

class OpenPort : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), UART_OK); }
    void TearDown() override { Close_Com(kPort); }
    PtyPeer peer;
    ComMapping mapping{kPort, peer.slave_path()};
};

milliseconds elapsed_since(steady_clock::time_point t) {
    return duration_cast<milliseconds>(steady_clock::now() - t);
}

// What a COM number is mapped to and the line format asked for -> Open_Com's code.
TEST(UartOpen, RefusesWhatItCannotOpenAsAsked) {
    PtyPeer peer;
    struct Row {
        int port;
        const char* device;  // nullptr: no UART_COM<N> variable
        std::uint32_t baud;
        std::uint8_t data, parity, stop;
        std::uint16_t code;
    } rows[] = {
        {0, nullptr, 115200, 8, 0, 0, UART_ERR_BAD_PORT},
        {12, "/dev/no-such-serial-device", 115200, 8, 0, 0, UART_ERR_NO_DEVICE},
        {3, "", 115200, 8, 0, 0, UART_ERR_NO_DEVICE},  // set but empty: no fallback to /dev/ttyS2
        {13, "/dev/null", 115200, 8, 0, 0, UART_ERR_CONFIG},  // not a terminal
        {14, peer.slave_path().c_str(), 123456, 8, 0, 0, UART_ERR_BAD_SETTINGS},
        {14, peer.slave_path().c_str(), 115200, 9, 0, 0, UART_ERR_BAD_SETTINGS},
        {14, peer.slave_path().c_str(), 115200, 8, 7, 0, UART_ERR_BAD_SETTINGS},
        {14, peer.slave_path().c_str(), 115200, 8, 0, 3, UART_ERR_BAD_SETTINGS},
        {14, peer.slave_path().c_str(), 9600, 7, 2, 2, UART_OK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.port) + " " + (row.device ? row.device : "(unset)"));
        std::optional<ComMapping> mapping;
        if (row.device != nullptr) mapping.emplace(row.port, row.device);
        EXPECT_EQ(Open_Com(static_cast<uint8_t>(row.port), row.baud, row.data, row.parity, row.stop), row.code);
        EXPECT_EQ(Close_Com(static_cast<uint8_t>(row.port)), row.code == UART_OK ? UART_OK : UART_ERR_NOT_OPEN);
    }
}

TEST_F(OpenPort, SecondOpenOfTheSameDeviceIsBusy) {
    EXPECT_EQ(Open_Com(kPort, 115200, 8, 0, 0), UART_ERR_BUSY);
    ComMapping same_device(15, peer.slave_path());
    EXPECT_EQ(Open_Com(15, 115200, 8, 0, 0), UART_ERR_BUSY);

    // Another program, even one running as root, gets the busy code too.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(Open_Com(15, 115200, 8, 0, 0));
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), UART_ERR_BUSY);
}

TEST_F(OpenPort, ReopenAfterClose) {
    EXPECT_EQ(Close_Com(kPort), UART_OK);
    EXPECT_EQ(Open_Com(kPort, 115200, 8, 0, 0), UART_OK);
}

// A console line ends with a carriage return; a block goes out byte for byte.
TEST_F(OpenPort, LinesAndBlocksGoOutAsGiven) {
    EXPECT_EQ(Send_Cmd(kPort, "del", 0), UART_OK);
    EXPECT_EQ(peer.read_until("\r", 1s), "del\r");
    peer.clear_received();
    std::string block(260, '\0');
    for (int i = 0; i < 260; ++i) block[i] = static_cast<char>(i);
    EXPECT_EQ(Send_Raw(kPort, block.data(), 260), 260);
    EXPECT_EQ(peer.read_until(std::string(1, static_cast<char>(259 & 0xFF)), 1s), block);
}

TEST_F(OpenPort, ExchangeCollectsTheReplyUpToThePrompt) {
    char reply[1001];
    peer.write("stale bytes");
    // The peer answers only after it has seen the command.
    std::thread device([&] {
        peer.read_until("ip\r", 2s);
        peer.write("\r\nIP=10.0.0.1\r\nTQ318-5314A>");
    });
    const auto t0 = steady_clock::now();
    const uint16_t r = Exchange_Cmd(kPort, "ip", reply, sizeof reply, 1000, 0, nullptr, '>');
    device.join();
    EXPECT_EQ(r, UART_OK);
    EXPECT_STREQ(reply, "\r\nIP=10.0.0.1\r\nTQ318-5314A>");
    EXPECT_LT(elapsed_since(t0), 500ms);
}

TEST_F(OpenPort, OverlongReplyIsCutNeverOverflowed) {
    char reply[1001 + 16];
    std::memset(reply, 'Q', sizeof reply);
    std::thread device([&] {
        peer.read_until("dir\r", 2s);
        peer.write(std::string(3000, 'x') + ">");
    });
    EXPECT_EQ(Exchange_Cmd(kPort, "dir", reply, 1001, 1000, 0, nullptr, '>'), UART_ERR_TOO_LONG);
    device.join();
    EXPECT_EQ(std::strlen(reply), 1000u);
    for (int i = 1001; i < 1001 + 16; ++i) EXPECT_EQ(reply[i], 'Q');
}

TEST_F(OpenPort, RawReadReturnsPromptlyAndHonoursItsMaximum) {
    uint8_t buf[8] = {};
    auto t0 = steady_clock::now();
    for (int i = 0; i < 50; ++i) EXPECT_EQ(Read_Raw(kPort, buf, 1), 0);
    // 50 empty polls at about 1 ms each: neither a spin nor a long wait.
    EXPECT_LT(elapsed_since(t0), 400ms);

    peer.write("abcdef");
    int32_t n = 0;
    t0 = steady_clock::now();
    while (n == 0 && elapsed_since(t0) < 1s) n = Read_Raw(kPort, buf, 4);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd");
}

// A stop request (as from a signal handler) is spent by the next block: it
// goes nowhere, and the one after it goes out again; console lines are not touched.
TEST_F(OpenPort, StopRequestRefusesOnlyTheNextBlock) {
    EXPECT_EQ(Uart_Stop_Next_Send(1), 0);
    EXPECT_EQ(Send_Cmd(kPort, "dir", 0), UART_OK);
    EXPECT_EQ(peer.read_until("dir\r", 1s), "dir\r");
    peer.clear_received();
    EXPECT_EQ(Send_Raw(kPort, "first", 5), 0);
    EXPECT_EQ(Send_Raw(kPort, "second", 6), 6);
    EXPECT_EQ(peer.read_until("second", 1s), "second");  // "first" never arrived
    // Withdrawn before any block took it: the next block goes out.
    EXPECT_EQ(Uart_Stop_Next_Send(1), 0);
    EXPECT_EQ(Uart_Stop_Next_Send(0), 1);
    peer.clear_received();
    EXPECT_EQ(Send_Raw(kPort, "third", 5), 5);
    EXPECT_EQ(peer.read_until("third", 1s), "third");
}

TEST_F(OpenPort, HangUpIsReportedAtOnce) {
    peer.close_master();
    uint8_t byte;
    const auto t0 = steady_clock::now();
    EXPECT_EQ(Read_Raw(kPort, &byte, 1), -UART_ERR_HANGUP);
    char reply[1001];
    EXPECT_EQ(Read_Until(kPort, reply, sizeof reply, 3000, 0, nullptr, '>'), UART_ERR_HANGUP);
    EXPECT_EQ(Receive_Cmd(kPort, reply, 1, 0, nullptr), UART_ERR_HANGUP);
    EXPECT_LT(elapsed_since(t0), 200ms);
}

TEST_F(OpenPort, ReceiveCmdLeavesTheArrivedTextAtTheStart) {
    char buffer[UART_TEXT_CAPACITY];
    std::memset(buffer, ' ', sizeof buffer);
    EXPECT_EQ(Receive_Cmd(kPort, buffer, 1, 0, nullptr), UART_ERR_TIMEOUT);
    EXPECT_STREQ(buffer, "");
    peer.write("password:");
    uint16_t scratch = 1;
    const auto t0 = steady_clock::now();
    uint16_t r = UART_ERR_TIMEOUT;
    while (r == UART_ERR_TIMEOUT && elapsed_since(t0) < 1s) r = Receive_Cmd(kPort, buffer, 1, 0, &scratch);
    EXPECT_EQ(r, UART_OK);
    EXPECT_STREQ(buffer, "password:");
    EXPECT_EQ(scratch, 9);
}

TEST_F(OpenPort, CallsOnAPortThatIsNotOpenFailCleanly) {
    char reply[1001];
    uint8_t byte;
    EXPECT_EQ(Send_Cmd(77, "x", 0), UART_ERR_NOT_OPEN);
    EXPECT_EQ(Exchange_Cmd(77, "x", reply, sizeof reply, 10, 0, nullptr, '>'), UART_ERR_NOT_OPEN);
    EXPECT_EQ(Read_Raw(77, &byte, 1), -UART_ERR_NOT_OPEN);
    EXPECT_EQ(Send_Raw(77, "x", 1), 0);
    EXPECT_EQ(Exchange_Cmd(kPort, nullptr, reply, sizeof reply, 10, 0, nullptr, '>'),
              UART_ERR_BAD_ARGUMENT);
}

TEST(UartTrace, TranscriptRecordsBothDirections) {
    char name[] = "/tmp/uart-trace-XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ::setenv("UART_TRACE", name, 1);
    {
        PtyPeer peer;
        ComMapping mapping(16, peer.slave_path());
        ASSERT_EQ(Open_Com(16, 115200, 8, 0, 0), UART_OK);
        Send_Cmd(16, "ver", 0);
        const uint8_t block[3] = {0x1d, 0x00, 0xff};
        Send_Raw(16, block, 3);
        peer.read_until(std::string("\xff", 1), 1s);
        peer.write("ok>");
        char reply[64];
        Read_Until(16, reply, sizeof reply, 500, 0, nullptr, '>');
        Close_Com(16);
    }
    ::unsetenv("UART_TRACE");
    std::ifstream in(name);
    std::stringstream text;
    text << in.rdbuf();
    ::unlink(name);
    EXPECT_NE(text.str().find("-> \"ver\\r\""), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("-> [3] 1d 00 ff"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("<- \"ok>\""), std::string::npos) << text.str();
}

}  // namespace
