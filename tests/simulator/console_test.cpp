// The console's boot, prompt and commands, driven on a simulated clock.
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
  for (const char* model : {"A", "TQ318-4400-LONG-NAME-FOR-TESTS"}) {
    ConsoleHarness h({.model = model});
    const std::string out = h.send(std::string_view("bios1\r\0", 7));  // the zero byte draws no second answer
    EXPECT_EQ(out.size(), 50u) << out;
    EXPECT_TRUE(out.starts_with("\r\nNo OS image")) << out;
    EXPECT_TRUE(out.ends_with(std::string(model) + ">")) << out;
  }
}

}  // namespace
}  // namespace tq318::sim::testing
