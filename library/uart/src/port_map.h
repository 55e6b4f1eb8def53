// Which device a COM port number stands for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace uart {

// Port N (1..255) is the device named by UART_COM<N> when set, else the one
// the user's mapping file (ports_file.h) gives for COM<N>, else /dev/ttyS<N-1>. A set but empty UART_COM<N> gives "" (no such device).
// Port 0 maps to nothing.
std::optional<std::string> device_path_for(std::uint8_t port);

}  // namespace uart
