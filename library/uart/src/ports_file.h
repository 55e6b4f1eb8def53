// The per-user COM mapping: $XDG_CONFIG_HOME/tq318/ports (default
// ~/.config/tq318/ports), lines such as "COM1=/dev/serial/by-id/usb-FTDI_...".
// Read by the serial layer when UART_COM<N> is not set; written by tovctl.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace uart::ports_file {

// A larger file is not a mapping: it is ignored whole.
inline constexpr std::size_t kMaxBytes = 64 * 1024;

// Where the file is; nullopt when neither XDG_CONFIG_HOME nor HOME is set.
std::optional<std::string> path();

// COM number -> device. Blank lines and lines starting with '#' are skipped,
// as are lines that are not "COM<1..255>=<device>" with a non-empty device;
// a later line for the same number wins. A CR before the LF is dropped.
std::map<int, std::string> parse(std::string_view text);

// The text of `file`: "" when it does not exist, nullopt when it exists but
// cannot be taken as a mapping (unreadable, not a regular file, larger than
// kMaxBytes). Opened without blocking, so a FIFO in its place cannot stall.
std::optional<std::string> file_text(const std::string& file);

// The mapping in the file, empty when it is missing or file_text refuses it.
std::map<int, std::string> read();

// The file's text with COM<port> set to `device`: the line for that number
// replaced (every other line kept as it was), or appended.
std::string with_assignment(std::string_view text, int port, std::string_view device);

}  // namespace uart::ports_file
