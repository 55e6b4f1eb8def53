// The simulator over a real pty, seen from the slave side as the kit sees it.
#include "sim_test_support.h"
#include "tq318/simulator.h"

namespace tq318::sim::testing {
namespace {

using namespace std::chrono_literals;

struct Pty {
  explicit Pty(SimulatorOptions o = {}) : sim(std::move(o)) { sim.start(); }
  // Opens the slave and waits until the simulator has seen the open.
  void attach() {
    port = std::make_unique<SlavePort>(sim.device_path());
    ASSERT_TRUE(port->ok());
    ASSERT_TRUE(sim.wait_for_slave(true, 2s));
  }
  Simulator sim;
  std::unique_ptr<SlavePort> port;
};

TEST(Pty, EveryOpenPlaysARestartWithThePassword) {
  Pty p({.password = "quorvelstand83", .restart_after_open_ms = 100});
  p.attach();
  EXPECT_EQ(p.port->read_until("password:"), "\r\nTQ-318 boot loader\r\nChecking flash ... ok\r\npassword:");
  p.port->close();
  ASSERT_TRUE(p.sim.wait_for_slave(false, 2s));
  p.attach();
  EXPECT_TRUE(p.port->read_until("password:").ends_with("password:"));
  EXPECT_EQ(p.sim.boot_count(), 2u);
}

TEST(Pty, OutputWhileNobodyListensIsLost) {
  Pty p;
  p.sim.restart();
  ASSERT_TRUE(p.sim.wait_until_ready(3s));
  p.attach();
  EXPECT_EQ(p.port->read_until("never", 300ms), "");
}

TEST(Pty, InputWrittenJustBeforeTheSlaveClosesStillReachesTheConsole) {
  Pty p({.baud = 9600});  // the line is still carrying the bytes when the close is seen
  p.attach();
  ASSERT_TRUE(p.port->write("ip 10.9.8.7\r"));
  p.port->close();
  EXPECT_TRUE(p.sim.wait_for_line("ip 10.9.8.7", 2s));
  EXPECT_EQ(p.sim.ip(), "10.9.8.7");
}

}  // namespace
}  // namespace tq318::sim::testing
