#include <gtest/gtest.h>

#include "console_harness.h"

namespace tq318::sim::testing {
namespace {

TEST(ConsoleCommands, EmptyAndBlankLinesAnswerThePromptOnly) {
  ConsoleHarness h;
  EXPECT_EQ(h.send("\r"), kPrompt);
  EXPECT_EQ(h.send(" \r"), kPrompt);
  EXPECT_EQ(h.send("\r\n"), kPrompt);
}

TEST(ConsoleCommands, UnknownCommandNamesTheWord) {
  ConsoleHarness h;
  EXPECT_EQ(h.send("frobnicate now\r"), "\r\nUnknown command: frobnicate" + kPrompt);
}

TEST(ConsoleCommands, LineFeedsAndZeroBytesAreIgnored) {
  ConsoleHarness h;
  EXPECT_EQ(h.send(std::string_view("\ni\0p\r\n", 6)), "\r\nIP=192.168.1.1" + kPrompt);
  EXPECT_EQ(h.console.lines().back().second, "ip");
}

TEST(ConsoleCommands, AddressesReadSetNormaliseAndReject) {
  ConsoleHarness h;
  EXPECT_EQ(h.send("ip\r"), "\r\nIP=192.168.1.1" + kPrompt);
  EXPECT_EQ(h.send("ip 010.000.001.009\r"), "\r\nIP=10.0.1.9" + kPrompt);
  EXPECT_EQ(h.send("ip\r"), "\r\nIP=10.0.1.9" + kPrompt);
  for (const char* bad : {"ip 1.2.3\r", "ip 1.2.3.256\r", "ip 1.2.3.4.5\r", "ip a.b.c.d\r", "ip 1..2.3\r", "ip 1.2.3.4 x\r"})
    EXPECT_EQ(h.send(bad), "\r\nInvalid address" + kPrompt) << bad;
  EXPECT_EQ(h.send("ip\r"), "\r\nIP=10.0.1.9" + kPrompt);
  EXPECT_EQ(h.send("mask\r"), "\r\nMASK=255.255.255.0" + kPrompt);
  EXPECT_EQ(h.send("mask 255.255.0.0\r"), "\r\nMASK=255.255.0.0" + kPrompt);
  EXPECT_EQ(h.send("gateway\r"), "\r\nGateway=192.168.1.254" + kPrompt);
  EXPECT_EQ(h.send("gateway 10.0.0.1\r"), "\r\nGateway=10.0.0.1" + kPrompt);
  h.boot();
  EXPECT_EQ(h.send("mask\r"), "\r\nMASK=255.255.0.0" + kPrompt);
  EXPECT_EQ(h.send("gateway\r"), "\r\nGateway=10.0.0.1" + kPrompt);
}

TEST(ConsoleCommands, SetcomShowsAndKeepsEachPort) {
  ConsoleHarness h;
  EXPECT_EQ(h.send("setcom 1\r"), "\r\nCOM 1 Current set is: 115200,8,0,1" + kPrompt);
  EXPECT_EQ(h.send("setcom 2 9600 7 e 2\r"), "\r\nCOM 2 Set to: 9600,7,e,2" + kPrompt);
  EXPECT_EQ(h.send("setcom 2\r"), "\r\nCOM 2 Current set is: 9600,7,1,2" + kPrompt);
  EXPECT_EQ(h.send("setcom 1\r"), "\r\nCOM 1 Current set is: 115200,8,0,1" + kPrompt);
  EXPECT_EQ(h.send("setcom 3 19200 8 O 1\r"), "\r\nCOM 3 Set to: 19200,8,o,1" + kPrompt);
  EXPECT_EQ(h.send("setcom 4 19200 8 4 1\r"), "\r\nCOM 4 Set to: 19200,8,s,1" + kPrompt);
  for (const char* bad : {"setcom\r", "setcom 0\r", "setcom 9\r", "setcom 1 9600 9 n 1\r", "setcom 1 9600 8 x 1\r",
                          "setcom 1 9600 8 n 3\r", "setcom 1 9600 8 n\r", "setcom 1 0 8 n 1\r"})
    EXPECT_EQ(h.send(bad), "\r\nInvalid setting" + kPrompt) << bad;
  h.boot();
  EXPECT_EQ(h.send("setcom 2\r"), "\r\nCOM 2 Current set is: 9600,7,1,2" + kPrompt);
  EXPECT_EQ(h.console.settings().com[2], (ComSetting{19200, 8, 2, 1}));
}

TEST(ConsoleCommands, DisksizeShowsAndChangesCapacities) {
  ConsoleHarness h;
  EXPECT_EQ(h.send("disksize\r"), "\r\nSizeA=1024 SizeB=3072" + kPrompt);
  EXPECT_EQ(h.send("disksize 512 2048\r"), "\r\nSizeA=512 SizeB=2048" + kPrompt);
  EXPECT_EQ(h.console.disk('a').capacity(), 512u * 1024);
  EXPECT_EQ(h.console.disk('B').capacity(), 2048u * 1024);
  EXPECT_EQ(h.send("disksize 0 5\r"), "\r\nInvalid size" + kPrompt);
  EXPECT_EQ(h.send("disksize 5\r"), "\r\nInvalid size" + kPrompt);
  EXPECT_NE(h.send("dir\r").find("Free space: 524288\r\n"), std::string::npos);
}

TEST(ConsoleCommands, ProbeAndVersion) {
  SimulatorOptions o;
  o.probe_data = "7F";
  o.udp = true;
  ConsoleHarness h(o);
  EXPECT_EQ(h.send("inp 30a\r"), "\r\ndata=7F" + kPrompt);
  EXPECT_EQ(h.send("ver\r"),
            "\r\nTovrane_UDP for TQ318-5314A\r\nFLASH MEMORY: 4MB\r\nVer. 1.23 build 003 Dec 06 2026" + kPrompt);
}

TEST(ConsoleCommands, DeleteAsksAndOnlyYesDeletes) {
  ConsoleHarness h;
  StoredFile f;
  f.name = "keep";
  f.data = {1, 2, 3};
  h.console.disk('A').store(f);
  h.console.disk('B').store(f);
  EXPECT_EQ(h.send("del\r"), "\r\nDelete all files in disk A (Y/N)?");
  EXPECT_EQ(h.send("n\r"), "\r\nCancelled" + kPrompt);
  EXPECT_EQ(h.console.disk('A').files().size(), 1u);
  EXPECT_EQ(h.send("del\r"), "\r\nDelete all files in disk A (Y/N)?");
  EXPECT_EQ(h.send("yes\r"), "\r\nCancelled" + kPrompt);
  EXPECT_EQ(h.send("delb\r"), "\r\nDelete all files in disk B (Y/N)?");
  EXPECT_EQ(h.send("y\r"), "\r\nAll files deleted" + kPrompt);
  EXPECT_TRUE(h.console.disk('B').files().empty());
  EXPECT_EQ(h.console.disk('A').files().size(), 1u);
  h.send("del\r");
  EXPECT_EQ(h.send("Y\r"), "\r\nAll files deleted" + kPrompt);
  EXPECT_TRUE(h.console.disk('A').files().empty());
}

TEST(ConsoleCommands, LongLinesAreCutAndGarbageNeverGrowsTheLine) {
  ConsoleHarness h;
  const std::string out = h.send(std::string(100000, 'x') + "\r");
  EXPECT_EQ(out, "\r\nUnknown command: " + std::string(Console::kMaxLine, 'x') + kPrompt);
  EXPECT_EQ(h.console.lines().back().second.size(), Console::kMaxLine);
}

TEST(ConsoleCommands, ManyLinesKeepTheLogBounded) {
  ConsoleHarness h;
  std::string burst;
  for (int i = 0; i < 1000; ++i) burst += "\r";
  h.send(burst);
  EXPECT_EQ(h.console.lines().size(), 1000u);
  for (std::size_t i = 0; i < Console::kMaxLines / 1000 + 1; ++i) {
    h.console.feed(burst, h.now);
    h.console.take_output(h.now);
  }
  EXPECT_EQ(h.console.lines().size(), Console::kMaxLines);
}

TEST(ConsoleCommands, EchoRepeatsTypingButNotThePassword) {
  SimulatorOptions o;
  o.echo = true;
  o.password = "pw";
  ConsoleHarness h(o);
  h.boot();
  EXPECT_EQ(h.send("pw\r").find("pw"), std::string::npos);
  EXPECT_EQ(h.send("ipx\x7f\r"), "ipx\b \b\r\nIP=192.168.1.1" + kPrompt);
}

TEST(ConsoleCommands, CommandWordsIgnoreCase) {
  ConsoleHarness h;
  EXPECT_EQ(h.send("IP\r"), "\r\nIP=192.168.1.1" + kPrompt);
}

}  // namespace
}  // namespace tq318::sim::testing
