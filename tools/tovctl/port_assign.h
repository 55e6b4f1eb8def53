// tovctl ports --assign N DEVICE: records in the user's mapping file which
// device COM N stands for (read by the uart layer when UART_COM<N> is unset).
#pragma once

#include <optional>
#include <string>

namespace tovctl {

// Writes COM<port>=<device> into the mapping file, replacing an earlier line
// for that port and keeping every other line. Returns "" on success, else
// why not (one line).
std::string assign_port(int port, const std::string& device);

// Why `device` is not a terminal one could reach a controller through (it does
// not exist, is a regular file, a folder, a FIFO, a device that is no
// terminal), "" when it is one.
std::string device_problem(const std::string& device);

// How this platform names serial devices, for the help and the messages
// (the platform's device check file says).
struct DeviceNaming {
    std::string example;           // "/dev/ttyUSB0"
    std::string default_device;    // what COM N is without a mapping: "/dev/ttyS<N-1>"
    std::string mapping_file;      // where the mapping file is, as the user sets it
    std::string no_mapping_place;  // why there is no place for it
    std::string permission_hint;   // what to do when the port may not be opened
};
const DeviceNaming& device_naming();

// The name the mapping file is to hold for `device` (an absolute path on
// Linux; \\.\NAME or COM<N> on Windows, stored as \\.\COM<N>), or nullopt
// with why not in `why`.
std::optional<std::string> assignable_device(const std::string& device, std::string& why);

// True when `device` holds a control byte (below 0x20 or 0x7f).
bool has_control_bytes(const std::string& device);

}  // namespace tovctl
