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

// Of a larger file only the lines within the first kMaxBytes are read, and
// tovctl does not rewrite it.
inline constexpr std::size_t kMaxBytes = 64 * 1024;

// Where the file is; nullopt when neither XDG_CONFIG_HOME nor HOME is set.
std::optional<std::string> path();

// COM number -> device. Blank lines and lines starting with '#' are skipped,
// as are lines that are not "COM<1..255>=<device>" with a non-empty device;
// a later line for the same number wins. A CR before the LF is dropped. Of a
// text longer than kMaxBytes only its first kMaxBytes are read, without the
// line they cut.
std::map<int, std::string> parse(std::string_view text);

// The text of `file`: "" when it does not exist, nullopt when it exists but
// cannot be taken as a mapping (unreadable, not a regular file). At most
// kMaxBytes + 1 bytes are read: a longer text says the file is larger
// (truncated()). Opened without blocking, so a FIFO in its place cannot stall.
std::optional<std::string> file_text(const std::string& file);

// True when `text` (from file_text) is the start of a file over kMaxBytes.
inline bool truncated(std::string_view text) { return text.size() > kMaxBytes; }

// The mapping in the file, empty when it is missing or file_text refuses it.
std::map<int, std::string> read();

// The file's text with COM<port> set to `device`: the line for that number
// replaced (every other line kept as it was), or appended.
std::string with_assignment(std::string_view text, int port, std::string_view device);

}  // namespace uart::ports_file
