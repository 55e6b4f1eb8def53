// What a Windows device's hardware or instance id tells about a USB serial
// adapter: "USB\VID_0403&PID_6001\A12345" (a USB device and its serial
// number), "FTDIBUS\VID_0403+PID_6001+A12345A\0000" (a port of FTDI's bus
// driver), "FTDIBUS\COMPORT&VID_0403&PID_6001" (its hardware id).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tovctl {

struct HardwareId {
    std::optional<int> vid;
    std::optional<int> pid;
    std::string serial;  // "" when the id carries none (Windows made one up)
    bool ftdi = false;   // FTDI's bus driver, or FTDI's vendor number
};

// Reads `id` as bytes; nothing of it is trusted (bounded, every field checked).
HardwareId parse_hardware_id(std::string_view id);

}  // namespace tovctl
