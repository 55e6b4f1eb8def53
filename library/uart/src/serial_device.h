// The one file that knows termios: opening, configuring, reading and
// writing a serial device, and putting it back as it was.
#pragma once

#include <termios.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "byte_source.h"
#include "low_latency.h"

namespace uart {

struct LineFormat {
    std::uint32_t baud = 115200;
    std::uint8_t data_bits = 8;
    std::uint8_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stop_bits = 0;  // 0 one, 1 one and a half (two), 2 two
};

class SerialDevice final : public ByteSource {
public:
    // Opens, locks and configures the device and asks `driver` for low
    // latency (see LowLatency: never a reason to fail); on failure returns
    // null and sets `code` to a uart_result.
    static std::unique_ptr<SerialDevice> open(const std::string& path, const LineFormat& format,
                                              std::uint16_t& code,
                                              SerialFlags& driver = system_serial_flags());
    ~SerialDevice() override;
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Sleeps in the kernel (poll) up to wait_ms for a first byte, then takes
    // at most out.size() of the bytes waiting; what does not fit stays for the
    // next read. A line that hung up (EIO, end of file, POLLHUP/POLLERR) gives
    // UART_ERR_HANGUP at once.
    ReadResult read_some(std::span<std::uint8_t> out, int wait_ms) override;
    // The line's state without reading or waiting: UART_OK while it is up,
    // UART_ERR_HANGUP once the adapter was unplugged or the far end hung up.
    std::uint16_t line_state();
    // What the low-latency request came to at open.
    LowLatencyState low_latency() const { return low_latency_ ? low_latency_->state() : LowLatencyState::kUnsupported; }
    std::uint64_t now_ms() override;

    // Writes every byte unless the device fails or stalls for stall_ms;
    // returns how many were taken and sets `code`.
    std::size_t write_all(std::span<const std::uint8_t> bytes, int stall_ms, std::uint16_t& code);

    // Reads and returns whatever is waiting, without waiting.
    std::size_t discard_waiting();

    const std::string& path() const { return path_; }

    // Only open() can make the key, so only open() constructs devices.
    class Key {
        friend class SerialDevice;
        Key() = default;
    };
    SerialDevice(Key, int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

private:
    std::uint16_t configure(const LineFormat& format);

    int fd_ = -1;
    std::string path_;
    termios saved_{};
    bool saved_valid_ = false;
    std::optional<LowLatency> low_latency_;  // put back before the descriptor closes
};

// Maps a baud rate to its termios constant; false when unsupported.
bool baud_constant(std::uint32_t baud, speed_t& out);

}  // namespace uart
