// Collecting a console reply into a caller's text buffer: up to an end
// character followed by a quiet settle time, or until the line goes quiet.
// Pure logic over a ByteSource, so it is tested without a device.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "byte_source.h"

namespace uart {

struct CollectRequest {
    std::uint32_t timeout_ms = 0;   // from the start of collection
    std::optional<char> end_char;   // collect up to this character; none: until quiet
    std::uint32_t settle_ms = 15;   // quiet time that completes a reply
    // Without an end character: the longest collection after the first byte,
    // so that a slow steady trickle cannot hold the caller.
    std::uint32_t max_quiet_collect_ms = 250;
};

struct CollectResult {
    std::uint16_t code = 0;  // 0, or a uart_result code
    std::size_t length = 0;  // characters stored before the terminator
};

// Writes NUL-terminated text into `buffer` (never more than buffer.size()
// bytes, terminator included; buffer must not be empty).
CollectResult collect_reply(ByteSource& source, std::span<char> buffer, const CollectRequest& req);

}  // namespace uart
