// Which device a COM port number stands for.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace uart {

// Port N (1..255) is the device named by UART_COM<N> when set, else the one
// the user's mapping file (ports_file.h) gives for COM<N>, else /dev/ttyS<N-1>.
// A set but empty UART_COM<N> gives "" (no such device), as does a mapping
// file that exists but cannot be read. Port 0 maps to nothing.
std::optional<std::string> device_path_for(std::uint8_t port);

// The same, with the mapping file already read (for a caller asking about
// many ports at once).
std::optional<std::string> device_path_for(std::uint8_t port, const std::map<int, std::string>& mapping);

// The /dev/serial/by-id link that resolves to the same device as `device`,
// "" when there is none.
std::string serial_by_id_name(const std::string& device);

}  // namespace uart
