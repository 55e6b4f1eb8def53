// The serial ports of this PC as the system lists them, with what identifies
// each one and the COM number that the uart layer maps to it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tovctl {

struct PortInfo {
    std::string path;          // /dev/ttyUSB0
    std::string description;   // the system's description
    std::string transport;     // "usb", "native", "bluetooth"
    std::optional<int> usb_vid;
    std::optional<int> usb_pid;
    std::string manufacturer;  // USB only
    std::string product;       // USB only
    std::string serial;        // USB only
    std::string by_id;         // the stable /dev/serial/by-id name, when there is one
    std::optional<int> com;    // the COM number the uart layer maps to this device
};

std::vector<PortInfo> list_ports();

// The ports the system itself lists (libserialport on Linux, the registry's
// SERIALCOMM list on Windows), without their COM numbers.
std::vector<PortInfo> system_ports();

// The COM number port `path` is known by: the first N the uart layer maps to
// the same device (UART_COM<N>, the mapping file, /dev/ttyS<N-1>).
std::optional<int> com_number_for(const std::string& path);

}  // namespace tovctl
