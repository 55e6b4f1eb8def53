#include <gtest/gtest.h>

#include "console_harness.h"
#include "console_text.h"

namespace tq318::sim::testing {
namespace {

TEST(ConsoleBoot, WithoutPasswordNoiseBannerPromptWithPauses) {
  ConsoleHarness h;
  h.console.power_restart(h.now);
  EXPECT_EQ(h.console.take_output(h.now), std::string(kBootNoise));
  EXPECT_EQ(h.wait(199), "");
  EXPECT_EQ(h.wait(1), "HALVERN Tovrane V1.2MS repair console\r\n");
  EXPECT_EQ(h.wait(99), "");
  EXPECT_EQ(h.wait(1), kPrompt);
  EXPECT_TRUE(h.console.ready());
  EXPECT_EQ(h.console.boot_count(), 1u);
}

TEST(ConsoleBoot, StartsQuietlyAtThePromptWithoutBoot) {
  ConsoleHarness h;
  EXPECT_EQ(h.settle(), "");
  EXPECT_TRUE(h.console.ready());
  EXPECT_EQ(h.send(" \r"), kPrompt);
}

TEST(ConsoleBoot, PasswordWrongThenRight) {
  SimulatorOptions o;
  o.password = "quorvelstand83";
  o.mode_code = "SL";
  ConsoleHarness h(o);
  EXPECT_EQ(h.boot(), std::string(kBootNoise) + "password:");
  EXPECT_EQ(h.console.mode(), Console::Mode::password);
  h.console.feed("nope\r", h.now);
  EXPECT_EQ(h.console.take_output(h.now), "\r\nLogin incorrect\r\n");
  EXPECT_EQ(h.wait(99), "");
  EXPECT_EQ(h.wait(1), "password:");
  h.console.feed("quorvelstand83\r", h.now);
  EXPECT_EQ(h.wait(99), "");
  const std::string banner = h.wait(1);
  EXPECT_EQ(banner, "HALVERN Tovrane V1.2SL repair console\r\n");
  EXPECT_EQ(h.wait(100), kPrompt);
  const auto lines = h.console.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].second, "nope");
  EXPECT_EQ(lines[1].second, "quorvelstand83");
}

TEST(ConsoleBoot, InputDuringBootIsIgnored) {
  ConsoleHarness h;
  h.console.power_restart(h.now);
  h.console.feed("ip\r", h.now + 50);
  const std::string out = h.settle();
  EXPECT_EQ(out.find("IP="), std::string::npos);
  EXPECT_TRUE(out.ends_with(kPrompt));
  EXPECT_TRUE(h.console.lines().empty());
}

TEST(ConsoleBoot, ResetCommandRestartsAndKeepsSettings) {
  ConsoleHarness h;
  h.send("ip 10.0.0.7\r");
  const std::string out = h.send("reset\r");
  EXPECT_TRUE(out.starts_with(std::string(kBootNoise))) << out;
  EXPECT_NE(out.find("HALVERN Tovrane V1.2MS"), std::string::npos);
  EXPECT_TRUE(out.ends_with(kPrompt));
  EXPECT_EQ(h.console.boot_count(), 1u);
  EXPECT_EQ(h.send("ip\r"), "\r\nIP=10.0.0.7" + kPrompt);
}

TEST(ConsoleBoot, RestartAbandonsAPendingReplyAndATransfer) {
  ConsoleHarness h;
  Faults f;
  f.reply_delay_ms = 1000;
  h.console.set_faults(f);
  h.console.feed("ver\r", h.now);
  h.console.power_restart(h.now + 10);
  const std::string out = h.settle();
  EXPECT_EQ(out.find("Tovrane for"), std::string::npos);
  h.console.set_faults({});
  h.send("load\r");
  EXPECT_EQ(h.console.mode(), Console::Mode::transfer);
  h.boot();
  EXPECT_EQ(h.console.mode(), Console::Mode::command);
}

TEST(ConsoleBoot, ModelAndModeCodeChangesShowAtOnce) {
  ConsoleHarness h;
  h.console.set_model("TQ318-9000X");
  h.console.set_mode_code("AB");
  const std::string out = h.boot();
  EXPECT_NE(out.find("V1.2AB repair"), std::string::npos);
  EXPECT_TRUE(out.ends_with("\r\nTQ318-9000X>"));
}

}  // namespace
}  // namespace tq318::sim::testing
