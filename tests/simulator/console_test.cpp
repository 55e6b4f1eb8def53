// The console's boot, prompt and commands, driven on a simulated clock.
#include "cli_options.h"
#include "console_text.h"
#include "sim_test_support.h"

namespace tq318::sim::testing {
namespace {

TEST(Console, BootWithoutPasswordPausesBeforeBannerAndPrompt) {
  ConsoleHarness h;
  h.console.power_restart(h.now);
  EXPECT_EQ(h.console.take_output(h.now), std::string(kBootNoise));
  h.console.feed("ip\r", h.now + 50);  // not listening while booting
  EXPECT_EQ(h.wait(199), "");
  EXPECT_EQ(h.wait(1), "HALVERN Tovrane V1.2MS repair console\r\n");
  EXPECT_EQ(h.wait(99), "");
  EXPECT_EQ(h.wait(1), kPrompt);
  EXPECT_TRUE(h.console.ready());
  EXPECT_TRUE(h.console.lines().empty());
}

TEST(Console, BootWithPasswordRefusesAWrongOneAndPutsTheModeCodeAt21) {
  ConsoleHarness h({.mode_code = "SL", .password = "quorvelstand83"});
  EXPECT_EQ(h.boot(), std::string(kBootNoise) + "password:");
  EXPECT_EQ(h.send("nope\r"), "\r\nLogin incorrect\r\npassword:");
  h.console.feed("quorvelstand83\r", h.now);
  EXPECT_EQ(h.wait(99), "");
  const std::string banner = h.wait(1);
  EXPECT_EQ(banner, "HALVERN Tovrane V1.2SL repair console\r\n");
  EXPECT_EQ(banner.substr(20, 2), "SL");  // characters 21 and 22
  EXPECT_EQ(h.wait(100), kPrompt);
  ASSERT_EQ(h.console.lines().size(), 2u);
  EXPECT_EQ(h.console.lines()[1].second, "quorvelstand83");
}

TEST(Console, PromptFollowsTheModelAndAnswersBlankLines) {
  ConsoleHarness h;
  EXPECT_EQ(h.send("\r"), kPrompt);
  EXPECT_EQ(h.send(std::string_view(" \r\n\0", 4)), kPrompt);
  EXPECT_EQ(h.send("frobnicate now\r"), "\r\nUnknown command: frobnicate" + kPrompt);
  h.console.set_model("TQ318-9000X");
  EXPECT_EQ(h.send("\r"), "\r\nTQ318-9000X>");
}

// Each row: a command and its reply, then a query and its reply after a power restart.
struct SettingRow {
  const char *command, *reply, *query, *after_restart;
};
constexpr SettingRow kSettings[] = {
    {"ip 010.000.001.009", "IP=10.0.1.9", "ip", "IP=10.0.1.9"},
    {"ip 1.2.3.256", "Invalid address", "ip", "IP=10.0.1.9"},
    {"IP 1.2.3", "Invalid address", "ip", "IP=10.0.1.9"},
    {"ip 1.2.3.4 x", "Invalid address", "ip", "IP=10.0.1.9"},
    {"mask", "MASK=255.255.255.0", "mask", "MASK=255.255.255.0"},
    {"gateway 10.0.0.1", "Gateway=10.0.0.1", "gateway", "Gateway=10.0.0.1"},
    {"setcom 1", "COM 1 Current set is: 115200,8,0,1", "setcom 1", "COM 1 Current set is: 115200,8,0,1"},
    {"setcom 2 9600 7 e 2", "COM 2 Set to: 9600,7,e,2", "setcom 2", "COM 2 Current set is: 9600,7,1,2"},
    {"setcom 3 19200 8 O 1", "COM 3 Set to: 19200,8,o,1", "setcom 3", "COM 3 Current set is: 19200,8,2,1"},
    {"setcom 9", "Invalid setting", "setcom 2", "COM 2 Current set is: 9600,7,1,2"},
    {"setcom 1 9600 8 x 1", "Invalid setting", "setcom 1", "COM 1 Current set is: 115200,8,0,1"},
    {"disksize 512 2048", "SizeA=512 SizeB=2048", "disksize", "SizeA=512 SizeB=2048"},
    {"disksize 0 5", "Invalid size", "disksize", "SizeA=512 SizeB=2048"},
};

TEST(Console, SettingsRepliesAndPersistenceAcrossARestart) {
  ConsoleHarness h;
  for (const auto& row : kSettings) EXPECT_EQ(h.send(std::string(row.command) + "\r"), "\r\n" + (row.reply + kPrompt));
  h.boot();
  for (const auto& row : kSettings)
    EXPECT_EQ(h.send(std::string(row.query) + "\r"), "\r\n" + (row.after_restart + kPrompt)) << row.command;
  EXPECT_EQ(h.console.settings().com[2], (ComSetting{19200, 8, 2, 1}));
  EXPECT_EQ(h.console.disk('B').capacity(), 2048u * 1024);
}

TEST(Console, DirPutsSizesAndCountsWhereTheyAreRead) {
  ConsoleHarness h;
  StoredFile f{"tq318.exe", std::vector<std::uint8_t>(0x1A), 2026, 12, 6, 12, 34, 28};
  h.console.disk('A').store(f);
  f.name = "b.dat";
  f.data.resize(0x12345);
  h.console.disk('B').store(f);
  f.name = "abcdefghijkl";
  h.console.disk('B').store(f);
  const std::string out = h.send("dir\r");
  EXPECT_TRUE(out.starts_with("\r\nFiles in Disk A:\r\n0) tq318.exe     2026/12/06 12:34:56      0001A\r\n")) << out;
  const auto disk_b = out.find("Files in Disk B:");
  ASSERT_NE(disk_b, std::string::npos);
  for (const char* label : {"0)", "1)"}) EXPECT_EQ(out.substr(out.find(label, disk_b) + 1 + 41, 7), "12345\r\n");
  EXPECT_EQ(out.substr(out.find("Total File number is") + 21, 1), "1");
  EXPECT_EQ(out.substr(out.find("Total File number is", disk_b) + 21, 1), "2");
  EXPECT_NE(out.find("Free space: 1048320\r\n"), std::string::npos);
  EXPECT_TRUE(out.ends_with("Free space: " + std::to_string(3 * 1048576 - 2 * 0x12400) + kPrompt)) << out;
}

TEST(Console, VersionAndProbe) {
  for (bool udp : {false, true}) {
    ConsoleHarness h({.udp = udp, .probe_data = "7F"});
    EXPECT_EQ(h.send("ver\r"), std::string(udp ? "\r\nTovrane_UDP" : "\r\nTovrane") +
                                   " for TQ318-5314A\r\nFLASH MEMORY: 4MB\r\nVer. 1.23 build 003 Dec 06 2026" + kPrompt);
    EXPECT_EQ(h.send("inp 30a\r"), "\r\ndata=7F" + kPrompt);
  }
}

TEST(Console, DeleteAsksAndOnlyYDeletesThatDisk) {
  ConsoleHarness h;
  const StoredFile f{"keep", {1, 2, 3}};
  h.console.disk('A').store(f);
  h.console.disk('B').store(f);
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

TEST(Console, Bios1WithoutAnImageAnswers50CharactersOnce) {
  for (const char* model : {"TQ318-5314A", "A", "TQ318-4400-LONG-NAME-FOR-TESTS"}) {
    ConsoleHarness h({.model = model});
    const std::string out = h.send(std::string_view("bios1\r\0", 7));  // the zero byte draws no second answer
    EXPECT_EQ(out.size(), 50u) << out;
    EXPECT_TRUE(out.starts_with("\r\nNo OS image")) << out;
    EXPECT_TRUE(out.ends_with(std::string(model) + ">")) << out;
  }
}

TEST(Console, CommandLineOptionsSmoke) {
  const CliConfig c = parse_cli({"--mode-code=SL", "--password", "pw", "--baud", "115200", "--nak-block", "2"});
  EXPECT_EQ(c.options.mode_code, "SL");
  EXPECT_EQ(c.options.password, "pw");
  EXPECT_EQ(c.options.baud, 115200u);
  EXPECT_EQ(c.faults.nak_block, 2);
  EXPECT_THROW(parse_cli({"--nope"}), CliError);
}

}  // namespace
}  // namespace tq318::sim::testing
