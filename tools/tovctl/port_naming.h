// What a --port argument names: a COM number (7, COM7) or a device path.
// Found without changing anything, so that checking every port of a repair
// of several controllers leaves the environment its children inherit as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovctl {

struct NamedPort {
    std::optional<std::uint8_t> number;  // set for a COM number
    std::string device;                  // the device it stands for
};

// Nothing, with `error` set, when the text is neither a COM number (1..255)
// nor a path.
std::optional<NamedPort> name_port(const std::string& port_text, std::string& error);

// Every argument names a port, and no two name the same device.
bool check_ports(const std::vector<std::string>& ports, std::string& error);

// The COM number to reach device `path` by: the one whose UART_COM<N> names
// it, else the first N that neither a UART_COM<N> variable nor the mapping
// file takes (so no COM number named elsewhere changes its device); the caller
// sets UART_COM<N> in its own process.
struct PathNumber {
    std::uint8_t number = 0;
    bool variable_set = false;  // UART_COM<number> already names the path
};
std::optional<PathNumber> number_for_path(const std::string& path);

}  // namespace tovctl
