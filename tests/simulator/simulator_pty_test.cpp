// The simulator over a real pty, seen from the slave side as the kit sees it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "block.h"
#include "console_harness.h"
#include "slave_port.h"
#include "tq318/simulator.h"

namespace tq318::sim::testing {
namespace {

using namespace std::chrono_literals;

std::string str(const BlockBytes& b) { return std::string(b.begin(), b.end()); }

class PtyTest : public ::testing::Test {
 protected:
  // Starts a simulator, opens its slave and waits until the simulator has seen the open.
  void open(SimulatorOptions o = {}) {
    sim = std::make_unique<Simulator>(std::move(o));
    sim->start();
    port = std::make_unique<SlavePort>(sim->device_path());
    ASSERT_TRUE(port->ok());
    ASSERT_TRUE(sim->wait_for_slave(true, 2s));
  }
  std::string command(std::string_view line) {
    port->write(std::string(line) + "\r");
    return port->read_until(">", 3s);
  }

  std::unique_ptr<Simulator> sim;
  std::unique_ptr<SlavePort> port;
};

TEST_F(PtyTest, DevicePathIsAPseudoTerminal) {
  open();
  EXPECT_TRUE(sim->device_path().starts_with("/dev/pts/"));
  EXPECT_TRUE(sim->slave_open());
}

TEST_F(PtyTest, BootWithPasswordAfterTheSlaveIsOpened) {
  SimulatorOptions o;
  o.password = "quorvelstand83";
  o.restart_after_open_ms = 100;
  open(o);
  const std::string first = port->read_until("password:", 3s);
  EXPECT_EQ(first, std::string("\r\nTQ-318 boot loader\r\nChecking flash ... ok\r\n") + "password:");
  port->write("quorvelstand83\r");
  const std::string rest = port->read_until(kPrompt, 3s);
  ASSERT_TRUE(rest.starts_with("HALVERN Tovrane")) << rest;
  EXPECT_EQ(rest.substr(20, 2), "MS");
  EXPECT_TRUE(rest.ends_with("repair console\r\n" + kPrompt));
  EXPECT_TRUE(sim->wait_for_line("quorvelstand83", 1s));
  EXPECT_EQ(sim->boot_count(), 1u);
}

TEST_F(PtyTest, BootWithoutPasswordOnRestart) {
  SimulatorOptions o;
  o.mode_code = "SL";
  open(o);
  sim->restart();
  const std::string out = port->read_until(kPrompt, 3s);
  EXPECT_TRUE(out.starts_with("\r\nTQ-318 boot loader")) << out;
  const auto banner = out.find("HALVERN");
  ASSERT_NE(banner, std::string::npos);
  EXPECT_EQ(out.substr(banner + 20, 2), "SL");
  EXPECT_TRUE(sim->wait_until_ready(1s));
}

TEST_F(PtyTest, EveryOpenOfThePortPlaysTheRestart) {
  SimulatorOptions o;
  o.restart_after_open_ms = 0;
  open(o);
  EXPECT_TRUE(port->read_until(kPrompt, 3s).ends_with(kPrompt));
  port->close();
  ASSERT_TRUE(sim->wait_for_slave(false, 2s));
  port = std::make_unique<SlavePort>(sim->device_path());
  EXPECT_NE(port->read_until(kPrompt, 3s).find("HALVERN"), std::string::npos);
  EXPECT_EQ(sim->boot_count(), 2u);
}

TEST_F(PtyTest, OutputWhileNobodyListensIsLost) {
  sim = std::make_unique<Simulator>();
  sim->start();
  sim->restart();
  ASSERT_TRUE(sim->wait_until_ready(3s));
  port = std::make_unique<SlavePort>(sim->device_path());
  EXPECT_EQ(port->read_for(300ms), "");
}

TEST_F(PtyTest, SettingsCommandsAndTheirPersistence) {
  open();
  EXPECT_EQ(command("ip 10.1.1.20"), "\r\nIP=10.1.1.20" + kPrompt);
  EXPECT_EQ(command("mask 255.0.0.0"), "\r\nMASK=255.0.0.0" + kPrompt);
  EXPECT_EQ(command("gateway 10.1.1.1"), "\r\nGateway=10.1.1.1" + kPrompt);
  EXPECT_EQ(command("setcom 2 9600 8 n 1"), "\r\nCOM 2 Set to: 9600,8,n,1" + kPrompt);
  EXPECT_EQ(command("disksize 2048 4096"), "\r\nSizeA=2048 SizeB=4096" + kPrompt);
  sim->restart();
  port->read_until(kPrompt, 3s);
  EXPECT_EQ(command("ip"), "\r\nIP=10.1.1.20" + kPrompt);
  EXPECT_EQ(command("mask"), "\r\nMASK=255.0.0.0" + kPrompt);
  EXPECT_EQ(command("gateway"), "\r\nGateway=10.1.1.1" + kPrompt);
  EXPECT_EQ(command("setcom 2"), "\r\nCOM 2 Current set is: 9600,8,0,1" + kPrompt);
  EXPECT_EQ(command("disksize"), "\r\nSizeA=2048 SizeB=4096" + kPrompt);
  EXPECT_EQ(sim->ip(), "10.1.1.20");
  EXPECT_EQ(sim->mask(), "255.0.0.0");
  EXPECT_EQ(sim->gateway(), "10.1.1.1");
  EXPECT_EQ(sim->com(2), (ComSetting{9600, 8, 0, 1}));
  EXPECT_EQ(sim->disk_kib('b'), 4096u);
  const auto timed = sim->received_lines_timed();
  ASSERT_EQ(timed.size(), 10u);
  for (std::size_t i = 1; i < timed.size(); ++i) EXPECT_LE(timed[i - 1].first, timed[i].first);
}

TEST_F(PtyTest, DirListingOffsets) {
  open();
  StoredFile f;
  f.name = "tq318.exe";
  f.data.assign(0x1A, 1);
  f.year = 2026;
  f.month = 12;
  f.day = 6;
  f.hour = 12;
  f.minute = 34;
  f.seconds2 = 28;
  sim->put_file('a', f);
  f.name = "b.dat";
  f.data.assign(0x12345, 2);
  sim->put_file('b', f);
  const std::string out = command("dir");
  const auto label = out.find("0)");
  ASSERT_NE(label, std::string::npos);
  EXPECT_EQ(out.substr(label + 1 + 41, 5), "0001A");
  const auto total = out.find("Total File number is");
  EXPECT_EQ(out.substr(total + 21, 1), "1");
  const auto disk_b = out.find("Files in Disk B:");
  const auto label_b = out.find("0)", disk_b);
  EXPECT_EQ(out.substr(label_b + 1 + 41, 5), "12345");
  EXPECT_NE(out.find("Free space: 1048320\r\n"), std::string::npos);
  EXPECT_NE(out.find("Free space: " + std::to_string(3 * 1048576 - 0x12400) + kPrompt), std::string::npos) << out;
}

TEST_F(PtyTest, FullTransferWithABadCrcRetry) {
  open();
  port->write("loadb\r");
  EXPECT_EQ(port->read_until("!", 3s), "\r\nReady to receive file !");
  const auto data = pattern(3000);
  const FileHeader header = header_for("fw.bin", 3000);
  BlockBytes broken = make_header_block(header);
  broken[5] ^= 0x40;
  port->write(str(broken));
  EXPECT_EQ(port->read_n(1, 3s), nak());
  port->write(str(make_header_block(header)));
  EXPECT_EQ(port->read_n(1, 3s), ack());
  const auto blocks = data_blocks(data);
  for (std::size_t i = 0; i + 1 < blocks.size(); ++i) {
    port->write(str(blocks[i]));
    EXPECT_EQ(port->read_n(1, 3s), ack()) << "block " << i + 1;
  }
  port->write(str(blocks.back()));
  EXPECT_EQ(port->read_until(">", 3s), ack() + "\r\nFile fw.bin saved, 3000 bytes" + kPrompt);
  const auto files = sim->files('b');
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].data, data);
  const auto raw = sim->received_blocks();
  ASSERT_EQ(raw.size(), 1 + blocks.size());
  const BlockBytes good_header = make_header_block(header);
  EXPECT_EQ(raw[0], std::vector<std::uint8_t>(good_header.begin(), good_header.end()));
}

TEST_F(PtyTest, NotEnoughSpaceReply) {
  SimulatorOptions o;
  o.disk_a_kib = 2;
  open(o);
  port->write("load\r");
  port->read_until("!", 3s);
  port->write(str(make_header_block(header_for("big", 5000))));
  EXPECT_EQ(port->read_until(">", 3s), "\r\nNOT enough space on disk A (need 5120, free 2048)" + kPrompt);
}

TEST_F(PtyTest, Bios1WithoutAnImageAnswers50Characters) {
  open();
  port->write(std::string_view("bios1\r\0", 7));
  const std::string out = port->read_until(">", 3s);
  EXPECT_EQ(out.size(), 50u);
  EXPECT_EQ(out.back(), '>');
  EXPECT_EQ(port->read_for(100ms), "");  // the zero byte drew no second answer
  EXPECT_TRUE(sim->wait_for_line("bios1", 1s));
}

TEST_F(PtyTest, HangUpIsSeenByTheSlave) {
  open();
  sim->hang_up();
  EXPECT_TRUE(port->wait_hang_up(2s));
}

TEST_F(PtyTest, HangupFaultAfterTheAckOfABlock) {
  open();
  Faults f;
  f.hangup_after_block = 0;
  sim->set_faults(f);
  EXPECT_EQ(sim->faults().hangup_after_block, 0);
  port->write("load\r");
  port->read_until("!", 3s);
  port->write(str(make_header_block(header_for("a", 10))));
  EXPECT_EQ(port->read_n(1, 3s), ack());
  EXPECT_TRUE(port->wait_hang_up(2s));
}

TEST_F(PtyTest, PacedOutputTakesTheNominalTime) {
  SimulatorOptions o;
  o.baud = 115200;
  open(o);
  Faults f;
  f.long_reply_bytes = 10240;
  sim->set_faults(f);
  port->write(" \r");
  const std::string out = port->read_until(kPrompt, 5s);
  ASSERT_EQ(out.size(), 10240 + kPrompt.size());
  const double took = std::chrono::duration<double>(port->last_byte_at() - port->first_byte_at()).count();
  const double nominal = static_cast<double>(out.size() - 1) * 10.0 / 115200.0;
  EXPECT_NEAR(took, nominal, nominal * 0.02) << "took " << took << " s, nominal " << nominal << " s";
}

TEST_F(PtyTest, PacedInputDelaysTheAnswerToABlock) {
  SimulatorOptions o;
  o.baud = 115200;
  open(o);
  port->write("load\r");
  port->read_until("!", 3s);
  const BlockBytes header = make_header_block(header_for("a", 10));
  const auto sent = SlavePort::Clock::now();
  port->write(str(header));
  EXPECT_EQ(port->read_n(1, 3s), ack());
  const double took = std::chrono::duration<double>(port->last_byte_at() - sent).count();
  const double nominal = 261 * 10.0 / 115200.0;  // 260 bytes in, one byte out
  EXPECT_GE(took, nominal * 0.99);
  EXPECT_LT(took, nominal + 0.05);
}

TEST_F(PtyTest, FlashDirectoryKeepsFilesAcrossRuns) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tq318-flash-XXXXXX").string();
  const std::filesystem::path dir = ::mkdtemp(tmpl.data());
  SimulatorOptions o;
  o.flash_dir = dir.string();
  open(o);
  port->write("load\r");
  port->read_until("!", 3s);
  port->write(str(make_header_block(header_for("keep.me", 5))));
  port->read_n(1, 3s);
  port->write(str(data_blocks(pattern(5))[0]));
  EXPECT_TRUE(port->read_until(">", 3s).ends_with(kPrompt));
  port.reset();
  sim.reset();
  Simulator again(o);
  const auto files = again.files('A');
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].name, "keep.me");
  EXPECT_EQ(files[0].data, pattern(5));
  EXPECT_EQ(files[0].year, 2026);
  std::filesystem::remove_all(dir);
}

TEST_F(PtyTest, WaitForLineTimesOutForALineNeverSent) {
  open();
  command("ip");
  EXPECT_TRUE(sim->wait_for_line("ip", 1s));
  EXPECT_FALSE(sim->wait_for_line("never", 50ms));
  sim->clear_received_lines();
  EXPECT_TRUE(sim->received_lines().empty());
}

}  // namespace
}  // namespace tq318::sim::testing
