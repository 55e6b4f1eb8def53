#include "reply_collector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "line_settle.h"
#include "uart.h"

namespace {

struct Chunk { std::uint64_t at_ms; std::string bytes; std::uint16_t error = 0; };

// A scripted line: chunks that arrive at given times on a virtual clock.
class ScriptedSource : public uart::ByteSource {
public:
    explicit ScriptedSource(const std::vector<Chunk>& chunks) : chunks_(chunks.begin(), chunks.end()) {}
    uart::ReadResult read_some(std::span<std::uint8_t> out, int wait_ms) override {
        ++reads;
        if (chunks_.empty() || chunks_.front().at_ms > now_ + static_cast<std::uint64_t>(wait_ms)) {
            now_ += static_cast<std::uint64_t>(std::max(wait_ms, 1));
            return {};
        }
        Chunk& c = chunks_.front();
        now_ = std::max(now_, c.at_ms);
        if (c.error != 0) return {0, c.error};
        const std::size_t n = std::min(out.size(), c.bytes.size());
        std::memcpy(out.data(), c.bytes.data(), n);
        c.bytes.erase(0, n);
        if (c.bytes.empty()) chunks_.pop_front();
        return {n, 0};
    }
    std::uint64_t now_ms() override { return now_; }
    int reads = 0;

private:
    std::uint64_t now_ = 0;
    std::deque<Chunk> chunks_;
};

std::vector<Chunk> trickle(std::uint64_t from, std::uint64_t to, std::vector<Chunk> before = {}) {
    for (std::uint64_t t = from; t < to; t += 10) before.push_back({t, "."});
    return before;
}

// The chunks and the request -> the code, the text (unless null), when the
// collection ended, how many reads it took, the line's longest gap.
struct Row {
    const char* name; std::vector<Chunk> chunks; std::optional<char> end_char; std::uint32_t timeout_ms;
    std::uint16_t code; const char* text; std::uint64_t done_from, done_to;
    std::uint32_t quiet_settle_ms = 0, unfinished_settle_ms = 15; std::size_t capacity = 1001; int max_reads = 1000;
    std::optional<std::uint32_t> gap = {};  // not compared when absent
};

TEST(ReplyCollector, CollectsAsTheLineDelivers) {
    const std::string ip = "\r\nIP=1.2.3.4\r\nTQ318>";
    const Row rows[] = {
        // Done one settle time after the last byte, not at the time-out.
        {"complete", {{10, "\r\nIP=1.2.3.4"}, {12, "\r\nTQ318-5314A>"}}, '>', 1000, UART_OK,
         "\r\nIP=1.2.3.4\r\nTQ318-5314A>", 27, 37},
        // Once the end character came anywhere, the first settle time ends it with 0.
        {"text after the prompt", {{10, "\r\nok\r\nX>"}, {20, " more"}}, '>', 200, UART_OK, "\r\nok\r\nX> more", 35, 45},
        {"prompt inside, later prompt after a silence", {{5, "a>b"}, {40, "c>"}}, '>', 200, UART_OK, "a>b", 20, 30},
        {"trickle after the prompt never settles", trickle(20, 400, {{10, "ok>"}}), '>', 200, UART_OK, nullptr, 200,
         210},
        {"no end character at all", {{10, "abc"}, {30, "def"}}, '>', 200, UART_ERR_TIMEOUT, "abcdef", 200, 210},
        {"silent line", {}, '>', 300, UART_ERR_TIMEOUT, "", 300, 310},
        {"read error", {{1, "abc"}, {3, "", UART_ERR_HANGUP}}, '>', 1000, UART_ERR_HANGUP, "abc", 3, 100},
        // Cut to the capacity, terminator included; an exact fit is no overflow.
        {"overlong", {{1, std::string(40, 'a') + ">"}}, '>', 100, UART_ERR_TOO_LONG, "aaaaaaaaaaaaaaa", 1, 100, 0, 15, 16},
        {"exact fit", {{1, std::string(14, 'a') + ">"}}, '>', 100, UART_OK, "aaaaaaaaaaaaaa>", 1, 100, 0, 15, 16},
        // More after the end character: the longer unfinished settle, a plain end only the settle time.
        {"unfinished, more within", {{5, "a>b"}, {45, "c>"}}, '>', 1000, UART_OK, "a>bc>", 45, 70, 0, 60},
        {"unfinished, more beyond", {{5, "a>b"}, {90, "c>"}}, '>', 1000, UART_OK, "a>b", 65, 75, 0, 60},
        // One wait up to the next decision point: a silent second is one read, an answer one more.
        {"silent second", {}, '>', 1000, UART_ERR_TIMEOUT, "", 1000, 1010, 0, 15, 64, 2},
        {"answered", {{400, ip}}, '>', 1000, UART_OK, ip.c_str(), 415, 416, 0, 15, 64, 3},
        // The longest silence inside a reply before its end character (an adapter's latency).
        {"packets, rest after 40 ms", {{10, "0123456789"}, {12, "abc"}, {52, "def>"}}, '>', 1000, UART_OK, nullptr, 67,
         80, 0, 15, 100, 1000, 40},
        {"gap after the end character", {{10, "ok>"}, {22, " more"}}, '>', 1000, UART_OK, nullptr, 37, 47, 0, 15, 100,
         1000, 0},
        {"gap before the first byte", {{150, "\r\nok>"}}, '>', 1000, UART_OK, nullptr, 165, 175, 0, 15, 100, 1000, 0},
        // Without an end character: until the line is quiet, bounded.
        {"quiet", {{0, "password:"}, {200, "late"}}, {}, 1, UART_OK, "password:", 15, 40},
        {"quiet, nothing", {}, {}, 1, UART_ERR_TIMEOUT, "", 1, 6},
        {"quiet, trickle", trickle(0, 10000), {}, 1, UART_OK, nullptr, 250, 270},
        {"quiet, the line's quiet time", {{10, "0123456789"}, {50, "abc>"}, {200, "late"}}, {}, 200, UART_OK,
         "0123456789abc>", 135, 145, 85},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const uart::CollectRequest req{.timeout_ms = row.timeout_ms, .end_char = row.end_char,
                                       .quiet_settle_ms = row.quiet_settle_ms,
                                       .unfinished_settle_ms = row.unfinished_settle_ms};
        ScriptedSource src(row.chunks);
        std::vector<char> buf(row.capacity + 1, 'z');
        const auto r = uart::collect_reply(src, std::span(buf.data(), row.capacity), req);
        EXPECT_EQ(r.code, row.code);
        EXPECT_STREQ(buf.data(), row.text != nullptr ? row.text : buf.data());
        EXPECT_EQ(buf[row.capacity], 'z') << "wrote past the capacity";
        EXPECT_GE(src.now_ms(), row.done_from);
        EXPECT_LE(src.now_ms(), row.done_to);
        EXPECT_LE(src.reads, row.max_reads);
        EXPECT_EQ(r.longest_gap_ms, row.gap.value_or(r.longest_gap_ms));
    }
}

TEST(LineSettle, GrowsToTheLinesGapWithinBounds) {
    uart::LineSettle s;
    const auto base = static_cast<std::uint32_t>(UART_SETTLE_MS);
    auto after = [&](std::uint32_t gap) { return s.observe_gap(gap), s.settle_ms(); };
    EXPECT_EQ(s.settle_ms(), base);
    EXPECT_EQ(after(3), base);  // a direct line's jitter changes nothing
    EXPECT_GT(after(16), 16u);
    const std::uint32_t at40 = after(40);
    EXPECT_GT(at40, 40u);
    EXPECT_LE(at40, 90u);
    EXPECT_EQ(after(20), at40);  // a shorter gap later does not shrink it
    EXPECT_GE(s.unfinished_settle_ms(), at40);
    EXPECT_EQ(after(5000), at40);  // the controller's own pause teaches nothing
    EXPECT_LE(after(250), uart::LineSettle::kCeilingMs);
    s.reset();
    EXPECT_EQ(s.settle_ms(), base);
}

}  // namespace
