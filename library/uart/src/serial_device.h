// A serial device: opening, configuring, reading and writing it, and putting
// it back as it was. One implementation file per platform (serial_device_posix.cpp
// on termios, win32/serial_device_win32.cpp); the platform's handle and
// saved settings come from its serial_device_members.h.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "byte_source.h"
#include "low_latency.h"    // the termios part asks the driver for it
#include "serial_native.h"  // the platform's headers and helpers

namespace uart {

struct LineFormat {
    std::uint32_t baud = 115200;
    std::uint8_t data_bits = 8;
    std::uint8_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stop_bits = 0;  // 0 one, 1 one and a half (two), 2 two
};

class SerialDevice final : public ByteSource {
public:
    // static std::unique_ptr<SerialDevice> open(path, format, code, ...):
    // opens, locks and configures the device; on failure returns null and
    // sets `code` to a uart_result. Declared by the platform part below (the
    // termios one also takes the driver it asks for low latency).
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

#include "serial_device_members.h"
};

}  // namespace uart
