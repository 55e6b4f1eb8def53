// The per-user COM mapping file: its format, and the serial layer's use of it
// (UART_COM<N> first, then the file, then /dev/ttyS<N-1>).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "ports_file.h"
#include "pty_peer.h"
#include "temp_dir.h"
#include "uart.h"

using testing_support::ComMapping;
using testing_support::PtyPeer;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

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

class MappingFile : public ::testing::Test {
protected:
    static constexpr uint8_t kPort = 5;
    void SetUp() override {
        ::unsetenv("UART_COM5");
        ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
        std::filesystem::create_directories(config / "tq318");
    }
    void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
    std::string device_of_port() {
        char path[256] = {};
        const auto code = Uart_Device_Path(kPort, path, sizeof path);
        EXPECT_EQ(code, path[0] == '\0' ? UART_ERR_NO_DEVICE : UART_OK) << path;
        return path;
    }
    TempDir config;
};

TEST_F(MappingFile, NamesTheDeviceOpenComOpens) {
    PtyPeer peer;
    write_file(config / "tq318" / "ports", "COM5=" + peer.slave_path() + "\n");
    EXPECT_EQ(device_of_port(), peer.slave_path());
    ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), UART_OK);
    EXPECT_EQ(Send_Cmd(kPort, "ver", 1), UART_OK);
    EXPECT_NE(peer.read_until("ver", std::chrono::milliseconds(500)).find("ver"), std::string::npos);
    Close_Com(kPort);
}

TEST_F(MappingFile, EnvironmentVariableWins) {
    write_file(config / "tq318" / "ports", "COM5=/dev/from-the-file\n");
    const ComMapping variable(kPort, "/dev/from-the-variable");
    EXPECT_EQ(device_of_port(), "/dev/from-the-variable");
    const ComMapping empty(kPort, "");  // set but empty: no device, not the file's
    char path[64];
    EXPECT_EQ(Uart_Device_Path(kPort, path, sizeof path), UART_ERR_NO_DEVICE);
}

TEST_F(MappingFile, MissingUnreadableOrStrangeFilesNameNoDevice) {
    EXPECT_EQ(device_of_port(), "/dev/ttyS4");  // no file at all

    const auto file = config / "tq318" / "ports";
    write_file(file, "\x01\x02garbage COM5 without equals\n");  // readable, no COM5 in it
    EXPECT_EQ(device_of_port(), "/dev/ttyS4");

    // Over the limit: the lines within it count, the one it cuts does not.
    const std::string head = "COM5=/dev/within\n" + std::string(uart::ports_file::kMaxBytes - 40, '#') + "\n";
    write_file(file, head + "COM5=/dev/cut-at-the-limit\n");
    EXPECT_EQ(device_of_port(), "/dev/within");

    // There but not a mapping: no guess at /dev/ttyS4, which could be anything.

    std::filesystem::remove(file);
    std::filesystem::create_directory(file);  // a folder in its place
    EXPECT_EQ(device_of_port(), "");

    std::filesystem::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);  // a FIFO must not stall the lookup
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device_of_port(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
