// The quiet time that completes a reply on one open port when the reply may
// go on (no end character, or bytes after one). It starts at UART_SETTLE_MS
// and grows to twice the longest silence the line has shown inside a reply
// (a USB adapter hands over a partial packet only when its latency timer runs
// out, so such a line pauses mid-reply), within a ceiling: a reply is then not
// taken as complete in the middle of a pause the line is known to make.
#pragma once

#include <algorithm>
#include <cstdint>

#include "uart.h"

namespace uart {

class LineSettle {
public:
    static constexpr std::uint32_t kMarginMs = 5;
    // The longest adapter latency timer (ftdi_sio allows up to 255 ms) and its margin.
    static constexpr std::uint32_t kCeilingMs = 260;
    static constexpr std::uint32_t kLongestLineGapMs = 255;

    // Once the end character came but other bytes followed it, the reply's
    // end may still be held in an adapter's packet: this long covers the
    // common adapters' default latency timers (ftdi_sio 16 ms, others to 40 ms).
    static constexpr std::uint32_t kUnfinishedMs = 60;

    std::uint32_t unfinished_settle_ms() const { return std::max(kUnfinishedMs, settle_ms()); }
    // Twice the gap and a margin: the same pause varies with the load of the
    // PC that measures it.
    std::uint32_t settle_ms() const {
        return std::clamp<std::uint32_t>(2 * longest_gap_ms_ + kMarginMs, UART_SETTLE_MS, kCeilingMs);
    }
    // A silence seen inside one reply; one longer than any latency timer is a pause of
    // the controller's, not of the line, and teaches nothing.
    void observe_gap(std::uint32_t gap_ms) {
        if (gap_ms <= kLongestLineGapMs) longest_gap_ms_ = std::max(longest_gap_ms_, gap_ms);
    }
    void reset() { longest_gap_ms_ = 0; }

private:
    std::uint32_t longest_gap_ms_ = 0;
};

}  // namespace uart
