// The simulator's USB serial adapter: packets of at most N bytes, a partial
// packet only after the latency timer, on a virtual clock and over the pty.
#include "adapter_model.h"

#include <gtest/gtest.h>

#include <string>

#include "sim_test_support.h"
#include "tq318/simulator.h"

namespace tq318::sim::testing {
namespace {

using namespace std::chrono_literals;
constexpr std::int64_t kMs = 1'000'000;

std::string take(AdapterModel& a, std::int64_t now) {
  std::string out(a.ready(now));
  a.consume(out.size());
  return out;
}

TEST(Adapter, APartialPacketWaitsForTheLatencyTimer) {
  AdapterModel a(16, 62);
  a.push("\r\nTQ318-5314A>", 0);
  EXPECT_EQ(take(a, 15 * kMs), "");
  ASSERT_TRUE(a.next_release());
  EXPECT_EQ(*a.next_release(), 16 * kMs);
  EXPECT_EQ(take(a, 16 * kMs), "\r\nTQ318-5314A>");
  EXPECT_TRUE(a.empty());
  EXPECT_FALSE(a.next_release());
}

TEST(Adapter, FullPacketsGoAtOnceAndTheRestAfterTheTimer) {
  AdapterModel a(40, 62);
  const std::string reply(130, 'x');
  a.push(std::string_view(reply).substr(0, 70), 1 * kMs);
  EXPECT_EQ(take(a, 1 * kMs).size(), 62u);  // one full packet at once
  a.push(std::string_view(reply).substr(70), 5 * kMs);
  EXPECT_EQ(take(a, 5 * kMs).size(), 62u);  // the next full one
  EXPECT_EQ(take(a, 44 * kMs), "");         // 6 bytes held: the timer restarted at 5 ms
  EXPECT_EQ(take(a, 45 * kMs).size(), 6u);
}

TEST(Adapter, OverThePtyAReplyComesOnlyAfterTheLatency) {
  Simulator sim({.adapter_latency_ms = 40});
  sim.start();
  SlavePort port(sim.device_path());
  ASSERT_TRUE(port.ok());
  ASSERT_TRUE(sim.wait_for_slave(true, 2s));
  const auto sent = std::chrono::steady_clock::now();
  port.write("ip\r");
  EXPECT_EQ(port.read_until(">"), "\r\nIP=192.168.1.1\r\nTQ318-5314A>");
  EXPECT_GE(port.first_byte_at - sent, 39ms);
}

}  // namespace
}  // namespace tq318::sim::testing
