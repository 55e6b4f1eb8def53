#include "reply_collector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "uart.h"

namespace {

// A scripted line: chunks that arrive at given times on a virtual clock.
class ScriptedSource : public uart::ByteSource {
public:
    struct Chunk {
        std::uint64_t at_ms;
        std::string bytes;
        std::uint16_t error = 0;
    };
    explicit ScriptedSource(std::vector<Chunk> chunks) : chunks_(chunks.begin(), chunks.end()) {}

    uart::ReadResult read_some(std::span<std::uint8_t> out, int wait_ms) override {
        ++reads;
        uart::ReadResult r;
        if (!chunks_.empty() && chunks_.front().at_ms <= now_ + static_cast<std::uint64_t>(wait_ms)) {
            now_ = std::max(now_, chunks_.front().at_ms);
            Chunk& c = chunks_.front();
            if (c.error != 0) {
                r.error = c.error;
                return r;
            }
            const std::size_t n = std::min(out.size(), c.bytes.size());
            std::memcpy(out.data(), c.bytes.data(), n);
            c.bytes.erase(0, n);
            if (c.bytes.empty()) chunks_.pop_front();
            r.count = n;
            return r;
        }
        now_ += static_cast<std::uint64_t>(wait_ms > 0 ? wait_ms : 1);
        return r;
    }
    std::uint64_t now_ms() override { return now_; }
    std::uint64_t now_ = 0;
    int reads = 0;

private:
    std::deque<Chunk> chunks_;
};

uart::CollectRequest until(char end, std::uint32_t timeout_ms) {
    uart::CollectRequest r;
    r.timeout_ms = timeout_ms;
    r.end_char = end;
    r.settle_ms = 15;
    return r;
}

TEST(ReplyCollector, CompleteReplyEndsAfterSettleTime) {
    ScriptedSource src({{10, "\r\nIP=1.2.3.4"}, {12, "\r\nTQ318-5314A>"}});
    char buf[1001];
    const auto r = uart::collect_reply(src, buf, until('>', 1000));
    EXPECT_EQ(r.code, UART_OK);
    EXPECT_STREQ(buf, "\r\nIP=1.2.3.4\r\nTQ318-5314A>");
    // Done one settle time after the last byte, not at the time-out.
    EXPECT_GE(src.now_ms(), 12u + 15u);
    EXPECT_LT(src.now_ms(), 12u + 15u + 10u);
}

// Once the end character has arrived anywhere, the reply is handed over at the
// first settle-time silence (or at the time-out) with code 0; the caller checks
// the last character itself. Without the end character it is a time-out.
TEST(ReplyCollector, EndCharacterAnywhereEndsAtTheFirstSettle) {
    std::vector<ScriptedSource::Chunk> trickle{{10, "ok>"}};
    for (std::uint64_t t = 20; t < 400; t += 10) trickle.push_back({t, "."});
    struct Case {
        const char* name;
        std::vector<ScriptedSource::Chunk> chunks;
        std::uint16_t code;
        std::string text;  // empty: not compared
        std::uint64_t done_from, done_to;
    } cases[] = {
        {"text after the prompt", {{10, "\r\nok\r\nX>"}, {20, " more"}}, UART_OK,
         "\r\nok\r\nX> more", 20 + 15, 20 + 15 + 10},
        {"prompt inside, later prompt after a silence", {{5, "a>b"}, {40, "c>"}}, UART_OK, "a>b",
         5 + 15, 5 + 15 + 10},
        {"trickle after the prompt never settles", trickle, UART_OK, "", 200, 210},
        {"no end character at all", {{10, "abc"}, {30, "def"}}, UART_ERR_TIMEOUT, "abcdef", 200,
         210},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSource src(c.chunks);
        char buf[1001];
        const auto r = uart::collect_reply(src, buf, until('>', 200));
        EXPECT_EQ(r.code, c.code);
        if (!c.text.empty()) {
            EXPECT_EQ(std::string(buf), c.text);
        }
        EXPECT_GE(src.now_ms(), c.done_from);
        EXPECT_LE(src.now_ms(), c.done_to);
    }
}

TEST(ReplyCollector, SilentLineTimesOutWithEmptyText) {
    ScriptedSource src({});
    char buf[16];
    std::memset(buf, 'x', sizeof buf);
    const auto r = uart::collect_reply(src, buf, until('>', 300));
    EXPECT_EQ(r.code, UART_ERR_TIMEOUT);
    EXPECT_STREQ(buf, "");
    EXPECT_GE(src.now_ms(), 300u);
    EXPECT_LE(src.now_ms(), 310u);
}

TEST(ReplyCollector, OverlongReplyIsCutAndReported) {
    ScriptedSource src({{1, std::string(40, 'a') + ">"}});
    char buf[17];
    std::memset(buf, 'z', sizeof buf);
    const auto r = uart::collect_reply(src, std::span(buf, 16), until('>', 100));
    EXPECT_EQ(r.code, UART_ERR_TOO_LONG);
    EXPECT_EQ(std::strlen(buf), 15u);
    EXPECT_EQ(buf[16], 'z') << "wrote past the capacity";

    ScriptedSource exact({{1, std::string(14, 'a') + ">"}});
    EXPECT_EQ(uart::collect_reply(exact, std::span(buf, 16), until('>', 100)).code, UART_OK);
    EXPECT_EQ(std::strlen(buf), 15u);
}

TEST(ReplyCollector, ReadErrorIsPassedOnWithTextSoFar) {
    ScriptedSource src({{1, "abc"}, {3, "", UART_ERR_HANGUP}});
    char buf[16];
    const auto r = uart::collect_reply(src, buf, until('>', 1000));
    EXPECT_EQ(r.code, UART_ERR_HANGUP);
    EXPECT_STREQ(buf, "abc");
    EXPECT_LT(src.now_ms(), 100u);
}

TEST(ReplyCollector, QuietModeTakesTextUntilTheLineSettles) {
    uart::CollectRequest req;
    req.timeout_ms = 1;
    req.settle_ms = 15;
    ScriptedSource src({{0, "password:"}, {200, "late"}});
    char buf[2048];
    const auto r = uart::collect_reply(src, buf, req);
    EXPECT_EQ(r.code, UART_OK);
    EXPECT_STREQ(buf, "password:");
    EXPECT_LT(src.now_ms(), 40u);
}

TEST(ReplyCollector, QuietModeWithNothingReturnsAtTheTimeout) {
    uart::CollectRequest req;
    req.timeout_ms = 1;
    ScriptedSource src({});
    char buf[8];
    const auto r = uart::collect_reply(src, buf, req);
    EXPECT_EQ(r.code, UART_ERR_TIMEOUT);
    EXPECT_STREQ(buf, "");
    EXPECT_LE(src.now_ms(), 6u);
}

TEST(ReplyCollector, QuietModeTrickleIsBounded) {
    uart::CollectRequest req;
    req.timeout_ms = 1;
    req.settle_ms = 15;
    req.max_quiet_collect_ms = 250;
    std::vector<ScriptedSource::Chunk> trickle;
    for (int i = 0; i < 1000; ++i) trickle.push_back({static_cast<std::uint64_t>(i * 10), "."});
    ScriptedSource src(trickle);
    char buf[2048];
    const auto r = uart::collect_reply(src, buf, req);
    EXPECT_EQ(r.code, UART_OK);
    EXPECT_LE(src.now_ms(), 270u);
    EXPECT_GT(std::strlen(buf), 10u);
}

// The collector hands the source one wait up to its next decision point: a
// silent second is one read, and a reply that came is settled with one more.
TEST(ReplyCollector, WaitsAreNotCutIntoSlices) {
    ScriptedSource silent({});
    char buf[64];
    EXPECT_EQ(uart::collect_reply(silent, buf, until('>', 1000)).code, UART_ERR_TIMEOUT);
    EXPECT_LE(silent.reads, 2);

    ScriptedSource answered({{400, "\r\nIP=1.2.3.4\r\nTQ318>"}});
    EXPECT_EQ(uart::collect_reply(answered, buf, until('>', 1000)).code, UART_OK);
    EXPECT_LE(answered.reads, 3);
    EXPECT_LE(answered.now_ms(), 400u + 15u + 1u);
}

}  // namespace

// The longest silence inside a reply before its end character is reported:
// the line's own pause (an adapter's latency timer), from which the settle time grows.
TEST(ReplyCollector, ReportsTheLongestGapBeforeTheEndCharacter) {
    struct Case {
        const char* name;
        std::vector<ScriptedSource::Chunk> chunks;
        std::uint32_t gap;
    } cases[] = {
        {"packets, then the rest after 40 ms", {{10, "0123456789"}, {12, "abc"}, {52, "def>"}}, 40},
        {"silence after the end character is not the line's", {{10, "ok>"}, {22, " more"}}, 0},
        {"before the first byte is the controller's", {{150, "\r\nok>"}}, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSource src(c.chunks);
        char buf[100];
        EXPECT_EQ(uart::collect_reply(src, buf, until('>', 1000)).longest_gap_ms, c.gap);
    }
}

// Once bytes came after the end character, the reply's end may still be held
// up: the longer quiet time applies, and a plain end waits only the settle time.
TEST(ReplyCollector, MoreAfterTheEndCharacterWaitsTheUnfinishedSettle) {
    auto req = until('>', 1000);
    req.unfinished_settle_ms = 60;
    ScriptedSource open_end({{5, "a>b"}, {45, "c>"}});
    char buf[100];
    EXPECT_EQ(uart::collect_reply(open_end, buf, req).code, UART_OK);
    EXPECT_STREQ(buf, "a>bc>");
    EXPECT_LE(open_end.now_ms(), 45u + 15u + 10u);
    ScriptedSource beyond({{5, "a>b"}, {90, "c>"}});
    uart::collect_reply(beyond, buf, req);
    EXPECT_STREQ(buf, "a>b");
    EXPECT_LE(beyond.now_ms(), 5u + 60u + 10u);
}

// Without an end character the line's own quiet time applies: an adapter's
// late partial packet is still part of the reply.
TEST(ReplyCollector, QuietModeWaitsTheLinesQuietTime) {
    uart::CollectRequest req;
    req.timeout_ms = 200;
    req.settle_ms = 15;
    req.quiet_settle_ms = 85;
    ScriptedSource src({{10, "0123456789"}, {50, "abc>"}, {200, "late"}});
    char buf[100];
    EXPECT_EQ(uart::collect_reply(src, buf, req).code, UART_OK);
    EXPECT_STREQ(buf, "0123456789abc>");
    EXPECT_LE(src.now_ms(), 50u + 85u + 10u);
}
