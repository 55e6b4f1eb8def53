// Whether the serial adapter is still there: after a failed console call the
// engine asks the serial layer (Receive_Cmd with its line-state flag, which
// reads nothing), so that an unplugged adapter ends the run at once with its
// own text instead of running every remaining step against a dead port.
#pragma once

#include <cstdint>

#include "tq318/repair/console.h"

namespace tq318::repair {

// The serial layer's values (uart.h): UART_FLAG_LINE_STATE and UART_ERR_HANGUP.
inline constexpr int16_t kLineStateFlag = 2;
inline constexpr uint16_t kLineHungUp = 10;

// True when the line reports that it hung up (adapter unplugged, far end gone).
bool adapterGone(Console& console, uint8_t port);

}  // namespace tq318::repair
