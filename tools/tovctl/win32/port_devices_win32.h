// The COM ports of the setup API's Ports class (what Device Manager shows
// under "Ports (COM & LPT)"), read once per call.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tovctl {

struct PortDevice {
    std::string com;            // "COM3", the device's PortName
    std::string friendly_name;  // "USB Serial Port (COM3)"
    std::string hardware_id;    // the first of its hardware ids
    std::string instance_id;    // "FTDIBUS\VID_0403+PID_6001+A12345A\0000"
    std::string service;        // the driver's service: "FTSER2K", "Serial"
    std::optional<int> latency_timer_ms;  // FTDI's "LatencyTimer" parameter
};

std::vector<PortDevice> port_devices();

// "COM3" when `name` is COM<1..255> (any case), else "".
std::string com_name(const std::string& name);

}  // namespace tovctl
