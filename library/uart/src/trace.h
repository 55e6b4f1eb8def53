// Optional transcript of everything that crosses the line, for
// troubleshooting: switched on by UART_TRACE=<file> when a port opens.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace uart::trace {

enum class Direction { Sent, Received, Dropped, Note };

// Opens the transcript named by UART_TRACE, if set and not already open.
void start_from_environment();

// Appends one time-stamped line. Text made of printable characters, CR, LF
// and TAB is written quoted with escapes; anything else as hex bytes.
void record(std::string_view device, Direction direction, std::span<const std::uint8_t> bytes);
void note(std::string_view device, std::string_view text);

// The line that `record` writes, without the time stamp (for tests).
std::string format_bytes(std::span<const std::uint8_t> bytes);

}  // namespace uart::trace
