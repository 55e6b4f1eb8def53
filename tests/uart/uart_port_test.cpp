// The uart layer over a real pseudo-terminal, and the per-user COM mapping file
// (UART_COM<N> first, then the file, then /dev/ttyS<N-1>). How soon the reads
// return is measured by bench/serial, not checked here.
#include <gtest/gtest.h>
#include <linux/serial.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "low_latency.h"
#include "port_on_pty.h"
#include "ports_file.h"
#include "temp_dir.h"
#include "serial_device.h"
#include "uart.h"

using namespace std::chrono_literals;
using testing_support::ComMapping;
using testing_support::PtyPeer;
using testing_support::TempDir;
using testing_support::write_file;
using Port = testing_support::PortOnPty;

namespace {

constexpr uint8_t kPort = Port::kPort;

TEST(PortsFileFormat, TakesOnlyWellFormedAssignments) {
    const auto m = uart::ports_file::parse(
        "# adapters on bench 3\r\n"
        "COM1=/dev/serial/by-id/usb-FTDI_A\r\n"
        "\n"
        "COM2=\n"              // no device: not an assignment
        "COM0=/dev/ttyUSB9\n"  // no such COM number
        "COM256=/dev/ttyUSB9\n"
        "COMx=/dev/ttyUSB9\n"
        "com3=/dev/ttyUSB3\n"  // the key is written as shown
        "COM4=/dev/ttyUSB4\n"
        "COM4=/dev/ttyUSB5");  // the later line wins, no final LF needed
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m.at(1), "/dev/serial/by-id/usb-FTDI_A");
    EXPECT_EQ(m.at(4), "/dev/ttyUSB5");
}

TEST(PortsFileFormat, AssignmentReplacesItsLineAndKeepsTheOthers) {
    const std::string before = "# mine\nCOM1=/dev/ttyUSB0\nCOM2=/dev/ttyUSB1\nCOM1=/dev/old\n";
    EXPECT_EQ(uart::ports_file::with_assignment(before, 1, "/dev/ttyACM0"),
              "# mine\nCOM1=/dev/ttyACM0\nCOM2=/dev/ttyUSB1\n");
    EXPECT_EQ(uart::ports_file::with_assignment("COM2=/dev/a", 7, "/dev/b"), "COM2=/dev/a\nCOM7=/dev/b\n");
    EXPECT_EQ(uart::ports_file::with_assignment("", 3, "/dev/c"), "COM3=/dev/c\n");
}

// Without COM5 in a readable file, /dev/ttyS4; a file over the size limit
// counts up to it. A file that cannot be read, and the variable that wins over
// the file, are pinned through tovctl (tests/tovctl/tovctl_test.cpp).
TEST(MappingFile, CountsUpToItsLimitAndFallsBackToTheFirstSerialPorts) {
    TempDir config;
    ::unsetenv("UART_COM5");
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    std::filesystem::create_directories(config / "tq318");
    const std::string limit = "COM5=/dev/within\n" + std::string(uart::ports_file::kMaxBytes - 40, '#') + "\n";
    const std::pair<std::optional<std::string>, std::string> rows[] = {
        {std::nullopt, "/dev/ttyS4"},  // no file at all
        {"\x01\x02garbage COM5 without equals\nCOM4=/dev/ttyUSB4\n", "/dev/ttyS4"},
        {limit + "COM5=/dev/cut-at-the-limit\n", "/dev/within"},  // the line the limit cuts does not count
    };
    for (const auto& [text, device] : rows) {
        if (text) write_file(config / "tq318" / "ports", *text);
        char path[256] = {};
        EXPECT_EQ(Uart_Device_Path(5, path, sizeof path), UART_OK);
        EXPECT_EQ(std::string(path), device);
    }
    ::unsetenv("XDG_CONFIG_HOME");
}

// What a COM number is mapped to and the line format asked for -> Open_Com's code.
TEST(UartOpen, RefusesWhatItCannotOpenAsAsked) {
    PtyPeer peer;
    const char* pty = peer.slave_path().c_str();
    struct Row {  // device nullptr: no UART_COM<N> variable
        int port; const char* device; std::uint32_t baud; std::uint8_t data, parity, stop; std::uint16_t code;
    } rows[] = {
        {0, nullptr, 115200, 8, 0, 0, UART_ERR_BAD_PORT},
        {12, "/dev/no-such-serial-device", 115200, 8, 0, 0, UART_ERR_NO_DEVICE},
        {3, "", 115200, 8, 0, 0, UART_ERR_NO_DEVICE},  // set but empty: no fallback to /dev/ttyS2
        {13, "/dev/null", 115200, 8, 0, 0, UART_ERR_CONFIG},  // not a terminal
        {14, pty, 123456, 8, 0, 0, UART_ERR_BAD_SETTINGS},
        {14, pty, 115200, 9, 0, 0, UART_ERR_BAD_SETTINGS},
        {14, pty, 115200, 8, 7, 0, UART_ERR_BAD_SETTINGS},
        {14, pty, 115200, 8, 0, 3, UART_ERR_BAD_SETTINGS},
        {14, pty, 9600, 7, 2, 2, UART_OK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.port) + " " + (row.device ? row.device : "(unset)"));
        std::optional<ComMapping> mapping;
        if (row.device != nullptr) mapping.emplace(row.port, row.device);
        EXPECT_EQ(Open_Com(static_cast<uint8_t>(row.port), row.baud, row.data, row.parity, row.stop), row.code);
        EXPECT_EQ(Close_Com(static_cast<uint8_t>(row.port)), row.code == UART_OK ? UART_OK : UART_ERR_NOT_OPEN);
    }
}

// Stale bytes on the line and what the far end answers -> the code and the
// reply, cut to the buffer (terminator included), never past it.
TEST_F(Port, ExchangeHandsOverTheAnswerToItsCommand) {
    const std::string ip = "\r\nIP=10.0.0.1\r\nTQ318-5314A>";
    const struct Row { std::string answer; uint16_t code; std::string reply; } rows[] = {
        {ip, UART_OK, ip},
        {std::string(3000, 'x') + ">", UART_ERR_TOO_LONG, std::string(1000, 'x')},
    };
    for (const Row& row : rows) {
        peer.write("stale bytes");
        char buf[2];  // the stale bytes are on the line once one of them arrived
        ASSERT_EQ(Read_Reply(kPort, buf, sizeof buf, 1000, UART_FLAG_FIRST_BYTES, nullptr), UART_OK);
        answer("ip\r", row.answer);
        char reply[1001 + 16];
        std::memset(reply, 'Q', sizeof reply);
        EXPECT_EQ(Exchange_Cmd(kPort, "ip", reply, 1001, 1000, 0, nullptr, '>'), row.code);
        EXPECT_EQ(std::string(reply), row.reply);
        EXPECT_EQ(std::string(reply + 1001, 16), std::string(16, 'Q'));
        far_end.join();
    }
}

// Lines end with a carriage return, blocks go out byte for byte; a stop
// request (as from a signal handler) is spent by the next block alone, a
// withdrawn one by none; UART_TRACE records both directions. The device is
// busy until its port closes (for another program: tests/tovctl, a port in use).
TEST_F(Port, WhatGoesOutAndItsTranscript) {
    EXPECT_EQ(Open_Com(kPort, 115200, 8, 0, 0), UART_ERR_BUSY);
    ComMapping same_device(15, peer.slave_path());
    EXPECT_EQ(Open_Com(15, 115200, 8, 0, 0), UART_ERR_BUSY);
    TempDir dir;
    ::setenv("UART_TRACE", (dir / "trace").c_str(), 1);  // the transcript starts when a port opens
    ASSERT_EQ(Close_Com(kPort), UART_OK);
    ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), UART_OK);
    ::unsetenv("UART_TRACE");
    std::string block(260, '\0');
    for (int i = 0; i < 260; ++i) block[i] = static_cast<char>(i);
    const std::string last("\x1d\x00\xff", 3);
    EXPECT_EQ(Uart_Stop_Next_Send(1), 0);
    EXPECT_EQ(Send_Cmd(kPort, "ver", 0), UART_OK);
    EXPECT_EQ(Send_Raw(kPort, "first", 5), 0);
    EXPECT_EQ(Send_Raw(kPort, block.data(), 260), 260);
    EXPECT_EQ(Uart_Stop_Next_Send(1), 0);
    EXPECT_EQ(Uart_Stop_Next_Send(0), 1);
    EXPECT_EQ(Send_Raw(kPort, last.data(), 3), 3);
    EXPECT_EQ(peer.read_until(last, 1s), "ver\r" + block + last);
    peer.write("ok>");
    char reply[64];
    EXPECT_EQ(Read_Until(kPort, reply, sizeof reply, 500, 0, nullptr, '>'), UART_OK);
    EXPECT_EQ(Close_Com(kPort), UART_OK);
    const std::string text = testing_support::read_file(dir / "trace");
    for (const char* line : {"-> \"ver\\r\"", "-> [3] 1d 00 ff", "<- \"ok>\""})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
}

// On a silent line a raw read gives 0 and Receive_Cmd 9 with an empty text; a
// raw read takes at most its maximum, the UART_FLAG_LINE_STATE probe takes
// nothing, and Receive_Cmd leaves what arrived at the start, with its length.
TEST_F(Port, ReadsTakeWhatArrivedAndNoMore) {
    char text[UART_TEXT_CAPACITY];
    std::memset(text, ' ', sizeof text);
    uint8_t buf[8] = {};
    EXPECT_EQ(Read_Raw(kPort, buf, 1), 0);
    EXPECT_EQ(Receive_Cmd(kPort, text, 1, 0, nullptr), UART_ERR_TIMEOUT);
    EXPECT_STREQ(text, "");
    peer.write("abcdefgh");
    int32_t n = 0;
    for (int tries = 0; n == 0 && tries < 2000; ++tries) n = Read_Raw(kPort, buf, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), std::max(n, 0)), "abcd");
    std::strcpy(text, "kept");
    EXPECT_EQ(Receive_Cmd(kPort, text, 1, UART_FLAG_LINE_STATE, nullptr), UART_OK);
    EXPECT_EQ(Read_Reply(kPort, text, sizeof text, 1, UART_FLAG_LINE_STATE, nullptr), UART_OK);
    EXPECT_STREQ(text, "kept");
    uint16_t count = 1;
    EXPECT_EQ(Receive_Cmd(kPort, text, 1, 0, &count), UART_OK);
    EXPECT_STREQ(text, "efgh");
    EXPECT_EQ(count, 4);
}

// Read_Reply's UART_FLAG_FIRST_BYTES: a silent line is waited out in full; once
// bytes come, at most capacity-1 of them, and the rest stays on the line.
TEST_F(Port, FirstBytesWaitsForTheFirstByteAndKeepsWhatDoesNotFit) {
    char reply[5];
    uint16_t count = 99;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Read_Reply(kPort, reply, sizeof reply, 300, UART_FLAG_FIRST_BYTES, &count), UART_ERR_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 290ms);
    EXPECT_EQ(std::string(reply) + std::to_string(count), "0");
    const std::string sent("\x06" "abc\0de", 7);
    peer.write(sent);
    std::string got;
    for (int i = 0; i < 7 && got.size() < 7; ++i) {
        ASSERT_EQ(Read_Reply(kPort, reply, sizeof reply, 1000, UART_FLAG_FIRST_BYTES, &count), UART_OK);
        ASSERT_LE(count, 4);
        EXPECT_EQ(reply[count], '\0');
        got.append(reply, count);
    }
    EXPECT_EQ(got, sent);
}

// A hung-up line, a port that is not open, a call without its arguments.
TEST_F(Port, ReadsOnALineThatIsGoneOrNotOpenFailCleanly) {
    peer.close_master();
    char reply[UART_TEXT_CAPACITY];
    uint8_t byte;
    EXPECT_EQ(Read_Raw(kPort, &byte, 1), -UART_ERR_HANGUP);
    EXPECT_EQ(Read_Until(kPort, reply, sizeof reply, 3000, 0, nullptr, '>'), UART_ERR_HANGUP);
    EXPECT_EQ(Receive_Cmd(kPort, reply, 1, 0, nullptr), UART_ERR_HANGUP);
    EXPECT_EQ(Read_Reply(kPort, reply, sizeof reply, 5000, UART_FLAG_FIRST_BYTES, nullptr), UART_ERR_HANGUP);
    EXPECT_EQ(Receive_Cmd(kPort, reply, 1, UART_FLAG_LINE_STATE, nullptr), UART_ERR_HANGUP);
    EXPECT_EQ(Read_Reply(kPort, reply, sizeof reply, 1, UART_FLAG_LINE_STATE, nullptr), UART_ERR_HANGUP);
    EXPECT_EQ(Send_Cmd(77, "x", 0), UART_ERR_NOT_OPEN);
    EXPECT_EQ(Exchange_Cmd(77, "x", reply, sizeof reply, 10, 0, nullptr, '>'), UART_ERR_NOT_OPEN);
    EXPECT_EQ(Read_Raw(77, &byte, 1), -UART_ERR_NOT_OPEN);
    EXPECT_EQ(Send_Raw(77, "x", 1), 0);
    EXPECT_EQ(Receive_Cmd(77, reply, 1, UART_FLAG_LINE_STATE, nullptr), UART_ERR_NOT_OPEN);
    EXPECT_EQ(Exchange_Cmd(kPort, nullptr, reply, sizeof reply, 10, 0, nullptr, '>'), UART_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Read_Reply(kPort, reply, 1, 10, UART_FLAG_FIRST_BYTES, nullptr), UART_ERR_BAD_ARGUMENT);
}

using uart::LowLatency;
using uart::LowLatencyState;

// The low-latency request at open, through a stand-in driver with a flags
// word that takes the request or refuses it (a pseudo-terminal has no serial
// flags at all); it records every write.
class FakeDriver : public uart::SerialFlags {
public:
    FakeDriver(bool has, bool refuse, int initial) : has_flags(has), refuses(refuse), flags(initial) {}
    bool has_flags, refuses;
    int flags;  // 0x1000: some unrelated flag that must survive
    std::vector<int> writes;

    bool get(int, int& out) override { return has_flags && (out = flags, true); }
    bool set(int, int value) override {
        writes.push_back(value);
        return !refuses && (flags = value, true);
    }
};

// What the driver offers -> the request's state, the flags while open and
// after the close, and every write the request made.
TEST(LowLatency, ItIsAskedForOnceAndPutBackOnlyIfTaken) {
    constexpr int kOn = 0x1000 | ASYNC_LOW_LATENCY;
    struct Row {
        const char* name; bool has_flags, refuses; int flags; LowLatencyState state; int open_flags, closed_flags;
        std::vector<int> writes;
    } rows[] = {
        {"takes it", true, false, 0x1000, LowLatencyState::kTaken, kOn, 0x1000, {kOn, 0x1000}},
        {"refuses it", true, true, 0x1000, LowLatencyState::kRefused, 0x1000, 0x1000, {kOn}},
        {"already on", true, false, kOn, LowLatencyState::kAlreadyOn, kOn, kOn, {}},
        {"no flags", false, false, 0x1000, LowLatencyState::kUnsupported, 0x1000, 0x1000, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeDriver driver(row.has_flags, row.refuses, row.flags);
        {
            LowLatency request(5, driver);
            EXPECT_EQ(request.state(), row.state);
            EXPECT_EQ(driver.flags, row.open_flags);
        }
        EXPECT_EQ(driver.flags, row.closed_flags);
        EXPECT_EQ(driver.writes, row.writes);
    }
}

// Through a driver that takes the request or refuses it, the device opens and
// puts the flags back when it closes.
TEST(LowLatency, TheDeviceOpensWhateverItsDriverDoes) {
    PtyPeer peer;
    for (const bool refuses : {false, true}) {
        FakeDriver driver(true, refuses, 0x1000);
        std::uint16_t code = 99;
        auto device = uart::SerialDevice::open(peer.slave_path(), {}, code, driver);
        ASSERT_TRUE(device);
        EXPECT_EQ(code, UART_OK);
        EXPECT_EQ(device->low_latency(), refuses ? LowLatencyState::kRefused : LowLatencyState::kTaken);
        device.reset();
        EXPECT_EQ(driver.flags, 0x1000);
    }
}

}  // namespace
