// The termios side of the serial device: its headers and speed constants.
#pragma once

#include <termios.h>

#include <cstdint>

namespace uart {

// Maps a baud rate to its termios constant; false when unsupported.
bool baud_constant(std::uint32_t baud, speed_t& out);

}  // namespace uart
