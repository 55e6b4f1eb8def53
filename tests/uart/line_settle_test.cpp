#include "line_settle.h"

#include <gtest/gtest.h>

TEST(LineSettle, GrowsToTheLinesGapWithinBounds) {
    uart::LineSettle s;
    EXPECT_EQ(s.settle_ms(), static_cast<std::uint32_t>(UART_SETTLE_MS));
    s.observe_gap(3);  // a direct line's jitter changes nothing
    EXPECT_EQ(s.settle_ms(), static_cast<std::uint32_t>(UART_SETTLE_MS));
    s.observe_gap(16);
    EXPECT_GT(s.settle_ms(), 16u);
    s.observe_gap(40);
    const std::uint32_t at40 = s.settle_ms();
    EXPECT_GT(at40, 40u);
    EXPECT_LE(at40, 90u);
    s.observe_gap(20);  // a shorter gap later does not shrink it
    EXPECT_EQ(s.settle_ms(), at40);
    EXPECT_GE(s.unfinished_settle_ms(), at40);
    s.observe_gap(5000);  // the controller's own pause teaches nothing
    EXPECT_EQ(s.settle_ms(), at40);
    s.observe_gap(250);
    EXPECT_LE(s.settle_ms(), uart::LineSettle::kCeilingMs);
    s.reset();
    EXPECT_EQ(s.settle_ms(), static_cast<std::uint32_t>(UART_SETTLE_MS));
}
