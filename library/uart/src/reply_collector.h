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
    std::uint32_t settle_ms = 15;   // quiet time that completes a reply ending with its end character
    // Without an end character: the quiet time that completes a reply (0: settle_ms).
    std::uint32_t quiet_settle_ms = 0;
    // The quiet time once the end character came but other bytes followed it:
    // the reply's end may still be held up (in a USB adapter's packet).
    std::uint32_t unfinished_settle_ms = 15;
    // Without an end character: the longest collection after the first byte,
    // so that a slow steady trickle cannot hold the caller.
    std::uint32_t max_quiet_collect_ms = 250;
};

struct CollectResult {
    std::uint16_t code = 0;  // 0, or a uart_result code
    std::size_t length = 0;  // characters stored before the terminator
    // The longest silence between two pieces of the reply before its end
    // character had come: the line's own gap inside one reply (a USB
    // adapter's latency timer shows here). 0 without an end character.
    std::uint32_t longest_gap_ms = 0;
};

// Writes NUL-terminated text into `buffer` (never more than buffer.size()
// bytes, terminator included; buffer must not be empty).
CollectResult collect_reply(ByteSource& source, std::span<char> buffer, const CollectRequest& req);

}  // namespace uart
