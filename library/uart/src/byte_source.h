// What the reply logic needs of a port: bytes that arrive, with a bounded wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace uart {

struct ReadResult {
    std::size_t count = 0;  // bytes stored
    std::uint16_t error = 0;  // a uart_result code, 0 when the read went well
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Stores up to out.size() bytes that have arrived, waiting at most
    // wait_ms for the first one. count 0 and error 0 means nothing came.
    virtual ReadResult read_some(std::span<std::uint8_t> out, int wait_ms) = 0;
    // Milliseconds on a monotonic clock.
    virtual std::uint64_t now_ms() = 0;
};

}  // namespace uart
