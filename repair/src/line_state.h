// Whether the serial adapter is still there: after a failed console call the
// engine asks the serial layer (Receive_Cmd with its line-state flag, which
// reads nothing), so that an unplugged adapter ends the run at once with its
// own text instead of running every remaining step against a dead port.
#pragma once

#include <cstdint>

#include "tq318/repair/console.h"
#include "uart.h"

namespace tq318::repair {

// The serial layer's line-state flag and its code for a line that hung up.
inline constexpr int16_t kLineStateFlag = UART_FLAG_LINE_STATE;
inline constexpr uint16_t kLineHungUp = UART_ERR_HANGUP;

// True when the line reports that it hung up (adapter unplugged, far end gone).
bool adapterGone(Console& console, uint8_t port);

}  // namespace tq318::repair
