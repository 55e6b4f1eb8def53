// What differs per platform in how COM numbers name devices (one file per
// platform: ports_file_posix.cpp, win32/ports_file_win32.cpp, which also hold
// ports_file::path and ports_file::file_text).
#pragma once

#include <cstdint>
#include <string>

namespace uart {

// The device port N (1..255) names when neither UART_COM<N> nor the mapping
// file says otherwise: /dev/ttyS<N-1> on Linux, \\.\COM<N> on Windows.
std::string default_device_name(std::uint8_t port);

}  // namespace uart
