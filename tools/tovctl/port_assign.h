// tovctl ports --assign N DEVICE: records in the user's mapping file which
// device COM N stands for (read by the uart layer when UART_COM<N> is unset).
#pragma once

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

// True when `device` holds a control byte (below 0x20 or 0x7f).
bool has_control_bytes(const std::string& device);

}  // namespace tovctl
