// The per-user COM mapping file: its format, and the serial layer's use of it
// (UART_COM<N> first, then the file, then /dev/ttyS<N-1>).
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "ports_file.h"
#include "temp_dir.h"
#include "uart.h"

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

}  // namespace
