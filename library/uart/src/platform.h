// What differs per platform in the serial layer besides the device itself
// (one file per platform: platform_posix.cpp, win32/platform_win32.cpp, which
// also hold ports_file::path and ports_file::file_text).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace uart {

// The device port N (1..255) names when neither UART_COM<N> nor the mapping
// file says otherwise: /dev/ttyS<N-1> on Linux, \\.\COM<N> on Windows.
std::string default_device_name(std::uint8_t port);

// `t` as local time; false when it cannot be converted.
bool local_time(std::time_t t, std::tm& out);

}  // namespace uart
