#include "reply_collector.h"

#include <algorithm>
#include <cstdint>

#include "uart.h"

namespace uart {

namespace {
// The wait handed to the source: up to the next moment at which the reply
// could be complete, so that the thread sleeps in the kernel between bytes.
int wait_budget(std::uint64_t now, std::uint64_t until) {
    if (until <= now) return 0;
    return static_cast<int>(std::min<std::uint64_t>(until - now, 60'000));
}
}  // namespace

CollectResult collect_reply(ByteSource& source, std::span<char> buffer, const CollectRequest& req) {
    CollectResult result;
    if (buffer.empty()) {
        result.code = UART_ERR_BAD_ARGUMENT;
        return result;
    }
    const std::size_t room = buffer.size() - 1;
    std::size_t length = 0;
    buffer[0] = '\0';

    const std::uint64_t start = source.now_ms();
    const std::uint64_t deadline = start + req.timeout_ms;
    std::uint64_t last_byte_at = 0;
    bool any = false;
    // The end character has arrived somewhere in the reply; whatever the
    // console prints after it is collected until the line settles.
    bool seen_end = false;

    for (;;) {
        const std::uint64_t now = source.now_ms();
        // The console ends a reply with its end character: when more came
        // after one, the rest of the reply may still be on its way.
        const bool ends_open = seen_end && length > 0 && buffer[length - 1] != *req.end_char;
        const std::uint32_t quiet = req.quiet_settle_ms != 0 ? req.quiet_settle_ms : req.settle_ms;
        const std::uint32_t settle = !req.end_char ? quiet
                                     : ends_open   ? std::max(req.settle_ms, req.unfinished_settle_ms)
                                                   : req.settle_ms;
        // Decide whether the reply is complete.
        if (any && now - last_byte_at >= settle) {
            if (!req.end_char || seen_end) break;
        }
        if (!req.end_char && any && now - start >= req.timeout_ms + req.max_quiet_collect_ms) {
            break;  // a trickle that never settles
        }
        if (now >= deadline && !(any && !req.end_char)) {
            break;  // time is up (without an end character, we keep reading until quiet)
        }
        // Next decision point: the settle time once the reply may be complete
        // (bounded by the time-out, or by the trickle limit without an end
        // character), else the time-out.
        std::uint64_t until = deadline;
        if (any && !req.end_char) {
            until = std::min(last_byte_at + settle, start + req.timeout_ms + req.max_quiet_collect_ms);
        } else if (any && seen_end) {
            until = std::min(last_byte_at + settle, deadline);
        }

        std::uint8_t chunk[256];
        const std::size_t want = std::min<std::size_t>(sizeof chunk, room - length + 1);
        const ReadResult r = source.read_some(std::span(chunk, want), wait_budget(now, until));
        if (r.error != 0) {
            buffer[length] = '\0';
            result.code = r.error;
            result.length = length;
            return result;
        }
        if (r.count == 0) continue;
        const std::size_t fits = std::min(r.count, room - length);
        std::copy_n(chunk, fits, reinterpret_cast<std::uint8_t*>(buffer.data()) + length);
        const bool seen_before = seen_end;
        const std::span<const std::uint8_t> taken(chunk, fits);
        if (req.end_char &&
            std::ranges::find(taken, static_cast<std::uint8_t>(*req.end_char)) != taken.end()) {
            seen_end = true;
        }
        const std::uint64_t arrived = source.now_ms();
        if (any && req.end_char && !seen_before) {
            result.longest_gap_ms = std::max(
                result.longest_gap_ms,
                static_cast<std::uint32_t>(std::min<std::uint64_t>(arrived - last_byte_at, UINT32_MAX)));
        }
        length += fits;
        buffer[length] = '\0';
        any = true;
        last_byte_at = arrived;
        if (fits < r.count) {
            result.code = UART_ERR_TOO_LONG;
            result.length = length;
            return result;
        }
    }
    buffer[length] = '\0';
    result.length = length;
    if (req.end_char) {
        result.code = seen_end ? UART_OK : UART_ERR_TIMEOUT;
    } else {
        result.code = length > 0 ? UART_OK : UART_ERR_TIMEOUT;
    }
    return result;
}

}  // namespace uart
