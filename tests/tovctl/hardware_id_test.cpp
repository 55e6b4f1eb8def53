// Hardware and instance ids of Windows serial ports read as bytes: what each
// form yields, and ids that must yield nothing.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "hardware_id.h"

namespace {

struct Case {
    std::string id;
    std::optional<int> vid, pid;
    std::string serial;
    bool ftdi;
};

TEST(HardwareId, Forms) {
    const Case cases[] = {
        {"USB\\VID_0403&PID_6001\\A12345", 0x0403, 0x6001, "A12345", true},
        {"usb\\vid_10c4&pid_ea60\\0001", 0x10c4, 0xea60, "0001", false},
        {"FTDIBUS\\VID_0403+PID_6015+DN05ABCDA\\0000", 0x0403, 0x6015, "DN05ABCDA", true},
        {"FTDIBUS\\COMPORT&VID_0403&PID_6001", 0x0403, 0x6001, "", true},
        // Windows' own instance part of a device without a serial number.
        {"USB\\VID_067B&PID_2303\\5&2B6D7E8&0&2", 0x067b, 0x2303, "", false},
        {"USB\\VID_2341&PID_0043&MI_00\\6&1A2B&0&0000", 0x2341, 0x0043, "", false},
        // No USB device: nothing.
        {"ACPI\\PNP0501\\1", std::nullopt, std::nullopt, "", false},
        {"*PNP0501", std::nullopt, std::nullopt, "", false},
        {"", std::nullopt, std::nullopt, "", false},
        // Damaged numbers and serials: not taken.
        {"USB\\VID_04X3&PID_6001\\A1", std::nullopt, std::nullopt, "", false},
        {"USB\\VID_04031&PID_6001\\A1", std::nullopt, std::nullopt, "", false},
        {"USB\\VID_0403\\A1", std::nullopt, std::nullopt, "", false},
        {"USB\\VID_0403&PID_6001\\A\x1b[2J", 0x0403, 0x6001, "", true},
        {"USB\\VID_0403&PID_6001\\" + std::string(65, 'S'), 0x0403, 0x6001, "", true},
        {"USB\\VID_0403&PID_6001\\" + std::string(600, 'S'), std::nullopt, std::nullopt, "", false},
    };
    for (const Case& c : cases) {
        const auto got = tovctl::parse_hardware_id(c.id);
        EXPECT_EQ(std::tie(got.vid, got.pid, got.serial, got.ftdi), std::tie(c.vid, c.pid, c.serial, c.ftdi)) << c.id;
    }
}

}  // namespace
