// The simulator over a real pty, seen from the slave side as the kit sees it.
#include "sim_test_support.h"
#include "tq318/simulator.h"

namespace tq318::sim::testing {
namespace {

using namespace std::chrono_literals;

class Pty : public ::testing::Test {
 protected:
  // Starts a simulator, opens its slave and waits until the simulator has seen the open.
  void open(SimulatorOptions o = {}) {
    sim = std::make_unique<Simulator>(std::move(o));
    sim->start();
    attach();
  }
  void attach() {
    port = std::make_unique<SlavePort>(sim->device_path());
    ASSERT_TRUE(port->ok());
    ASSERT_TRUE(sim->wait_for_slave(true, 2s));
  }
  std::string command(std::string_view line) {
    port->write(std::string(line) + "\r");
    return port->read_until(">");
  }

  std::unique_ptr<Simulator> sim;
  std::unique_ptr<SlavePort> port;
};

TEST_F(Pty, EveryOpenPlaysARestartWithThePassword) {
  open({.password = "quorvelstand83", .restart_after_open_ms = 100});
  EXPECT_EQ(port->read_until("password:"), "\r\nTQ-318 boot loader\r\nChecking flash ... ok\r\npassword:");
  port->write("quorvelstand83\r");
  const std::string rest = port->read_until(kPrompt);
  EXPECT_EQ(rest, "HALVERN Tovrane V1.2MS repair console\r\n" + kPrompt);
  EXPECT_TRUE(sim->wait_for_line("quorvelstand83", 1s));
  port->close();
  ASSERT_TRUE(sim->wait_for_slave(false, 2s));
  attach();
  EXPECT_TRUE(port->read_until("password:").ends_with("password:"));
  EXPECT_EQ(sim->boot_count(), 2u);
}

TEST_F(Pty, OutputWhileNobodyListensIsLost) {
  sim = std::make_unique<Simulator>();
  sim->start();
  sim->restart();
  ASSERT_TRUE(sim->wait_until_ready(3s));
  attach();
  EXPECT_EQ(port->read_until("never", 300ms), "");
}

TEST_F(Pty, HangUpIsSeenByTheSlave) {
  open();
  sim->hang_up();
  EXPECT_TRUE(port->wait_hang_up(2s));
  // The same through the fault knob, right after the header is acknowledged.
  open();
  sim->set_faults({.hangup_after_block = 0});
  port->write("load\r");
  EXPECT_EQ(port->read_until("!"), "\r\nReady to receive file !");
  port->write(str(make_header_block(header_for("a", 10))));
  EXPECT_EQ(port->read_until(kAckS), kAckS);
  EXPECT_TRUE(port->wait_hang_up(2s));
}

TEST_F(Pty, LinePacingFollowsTheBaudRate) {
  open({.baud = 115200});
  sim->set_faults({.long_reply_bytes = 10240});
  port->write(" \r");
  const std::string out = port->read_until(kPrompt, 5s);
  ASSERT_EQ(out.size(), 10240 + kPrompt.size());
  const double took = std::chrono::duration<double>(port->last_byte_at - port->first_byte_at).count();
  const double nominal = static_cast<double>(out.size() - 1) * 10.0 / 115200.0;
  EXPECT_GT(took, nominal * 0.92) << "took " << took << " s, nominal " << nominal << " s";
  EXPECT_LT(took, nominal * 1.08) << "took " << took << " s, nominal " << nominal << " s";
  // Input is paced too: a block is answered no sooner than its 260 bytes take on the line.
  sim->set_faults({});
  port->write("load\r");
  port->read_until("!");
  const auto sent = SlavePort::Clock::now();
  port->write(str(make_header_block(header_for("a", 10))));
  EXPECT_EQ(port->read_until(kAckS), kAckS);
  EXPECT_GE(std::chrono::duration<double>(port->last_byte_at - sent).count(), 260 * 10.0 / 115200.0);
}

TEST_F(Pty, InputWrittenJustBeforeTheSlaveClosesStillReachesTheConsole) {
  open({.baud = 9600});  // the line is still carrying the bytes when the close is seen
  ASSERT_TRUE(port->write("ip 10.9.8.7\r"));
  port->close();
  EXPECT_TRUE(sim->wait_for_line("ip 10.9.8.7", 2s));
  EXPECT_EQ(sim->ip(), "10.9.8.7");
}

}  // namespace
}  // namespace tq318::sim::testing
