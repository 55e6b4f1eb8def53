#include <gtest/gtest.h>

#include <string>

#include "paced_queue.h"

namespace tq318::sim {
namespace {

constexpr std::int64_t kMs = 1'000'000;

TEST(PacedQueue, UnpacedEverythingIsDueAtOnce) {
  PacedQueue q(0, PacedQueue::Edge::start);
  q.push("hello", 5);
  EXPECT_EQ(q.due_count(5), 5u);
  EXPECT_EQ(q.due_time(100), 0);
}

TEST(PacedQueue, InputBlockArrivesAfter260ByteTimes) {
  PacedQueue q(115200, PacedQueue::Edge::end);
  q.push(std::string(260, 'x'), 0);
  EXPECT_EQ(q.due_count(0), 0u);
  const auto t = q.due_time(260);
  ASSERT_TRUE(t);
  // 260 * 10 / 115200 s = 22.569 ms
  EXPECT_NEAR(static_cast<double>(*t) / kMs, 22.569, 0.001);
  EXPECT_EQ(q.due_count(*t - 1), 259u);
  EXPECT_EQ(q.due_count(*t), 260u);
}

TEST(PacedQueue, OutputStartsAtOnceThenOneByteTimeApart) {
  PacedQueue q(9600, PacedQueue::Edge::start);
  q.push("abcd", 1000);
  EXPECT_EQ(q.due_count(1000), 1u);
  EXPECT_EQ(q.due_count(1000 + 1041665), 1u);  // 1.0416667 ms per byte at 9600
  EXPECT_EQ(q.due_count(1000 + 1041666), 2u);
  q.consume(2);
  EXPECT_EQ(q.front(2), "cd");
  EXPECT_EQ(q.due_count(1000 + 2 * 1041667), 1u);
}

TEST(PacedQueue, LongRunsDoNotDrift) {
  PacedQueue q(115200, PacedQueue::Edge::start);
  const std::size_t n = 1'000'000;
  q.push(std::string(n, 'x'), 0);
  std::int64_t t = 0;
  // Consume in uneven chunks as a driver would.
  while (!q.empty()) {
    t += 1'700'000;
    q.consume(q.due_count(t));
  }
  // The last byte starts at (n-1) * 10 / 115200 s; we saw it within one step.
  const double nominal = (n - 1) * 10.0 / 115200.0 * 1e9;
  EXPECT_GE(static_cast<double>(t), nominal);
  EXPECT_LT(static_cast<double>(t), nominal + 1'700'000);
}

TEST(PacedQueue, BusyLineQueuesBehindIdleLineRestarts) {
  PacedQueue q(1000, PacedQueue::Edge::start);  // 10 ms a byte
  q.push("ab", 0);
  q.consume(q.due_count(0));  // 'a' out at 0
  q.consume(q.due_count(10 * kMs));  // 'b' out at 10 ms
  q.push("c", 12 * kMs);  // the line is busy with 'b' until 20 ms
  EXPECT_EQ(q.due_count(19 * kMs), 0u);
  EXPECT_EQ(q.due_count(20 * kMs), 1u);
  q.consume(1);
  q.push("d", 100 * kMs);  // idle line: goes at once
  EXPECT_EQ(q.due_count(100 * kMs), 1u);
}

}  // namespace
}  // namespace tq318::sim
