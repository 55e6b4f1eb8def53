#include <gtest/gtest.h>

#include "cli_options.h"

namespace tq318::sim {
namespace {

TEST(CliOptions, DefaultsMatchTheLibraryDefaults) {
  const CliConfig c = parse_cli({});
  EXPECT_EQ(c.options.model, "TQ318-5314A");
  EXPECT_EQ(c.options.mode_code, "MS");
  EXPECT_FALSE(c.options.password);
  EXPECT_EQ(c.options.baud, 0u);
  EXPECT_FALSE(c.help);
  EXPECT_TRUE(c.link.empty());
}

TEST(CliOptions, ValuesBothWays) {
  const CliConfig c = parse_cli({"--model", "TQ318-4400", "--mode-code=SL", "--password", "quorvelstand83", "--echo",
                                 "--baud=115200", "--disk-a-kib", "64", "--disk-b-kib=128", "--flash-dir", "/tmp/f",
                                 "--restart-after-open", "500", "--boot", "--udp", "--probe-data", "00", "--seed", "9",
                                 "--link", "/tmp/tq"});
  EXPECT_EQ(c.options.model, "TQ318-4400");
  EXPECT_EQ(c.options.mode_code, "SL");
  EXPECT_EQ(c.options.password, "quorvelstand83");
  EXPECT_TRUE(c.options.echo);
  EXPECT_EQ(c.options.baud, 115200u);
  EXPECT_EQ(c.options.disk_a_kib, 64u);
  EXPECT_EQ(c.options.disk_b_kib, 128u);
  EXPECT_EQ(c.options.flash_dir, "/tmp/f");
  EXPECT_EQ(c.options.restart_after_open_ms, 500);
  EXPECT_TRUE(c.options.boot_on_start);
  EXPECT_TRUE(c.options.udp);
  EXPECT_EQ(c.options.probe_data, "00");
  EXPECT_EQ(c.options.seed, 9u);
  EXPECT_EQ(c.link, "/tmp/tq");
}

TEST(CliOptions, Faults) {
  const CliConfig c = parse_cli({"--silent", "--garbage", "5", "--text-after-prompt= ", "--long-reply", "100",
                                 "--reply-delay", "50", "--byte-stream", "300", "--nak-block", "2", "--nak-times", "3",
                                 "--nak-rate", "0.25", "--swallow-block", "1", "--swallow-times", "2",
                                 "--other-byte-block", "4", "--other-byte", "0x41", "--hangup-after-block", "5",
                                 "--bios1-answer", "x>", "--upload-report", "r"});
  EXPECT_TRUE(c.faults.silent);
  EXPECT_EQ(c.faults.garbage_before_reply, 5u);
  EXPECT_EQ(c.faults.text_after_prompt, " ");
  EXPECT_EQ(c.faults.long_reply_bytes, 100u);
  EXPECT_EQ(c.faults.reply_delay_ms, 50u);
  EXPECT_EQ(c.faults.byte_stream_ms, 300u);
  EXPECT_EQ(c.faults.nak_block, 2);
  EXPECT_EQ(c.faults.nak_times, 3);
  EXPECT_DOUBLE_EQ(c.faults.nak_rate, 0.25);
  EXPECT_EQ(c.faults.swallow_block, 1);
  EXPECT_EQ(c.faults.swallow_times, 2);
  EXPECT_EQ(c.faults.other_byte_block, 4);
  EXPECT_EQ(c.faults.other_byte, 'A');
  EXPECT_EQ(c.faults.hangup_after_block, 5);
  EXPECT_EQ(c.faults.bios1_answer, "x>");
  EXPECT_EQ(c.faults.upload_report, "r");
}

TEST(CliOptions, Errors) {
  EXPECT_THROW(parse_cli({"--nope"}), CliError);
  EXPECT_THROW(parse_cli({"--baud"}), CliError);
  EXPECT_THROW(parse_cli({"--baud", "fast"}), CliError);
  EXPECT_THROW(parse_cli({"--echo=1"}), CliError);
  EXPECT_THROW(parse_cli({"--mode-code", "ABC"}), CliError);
  EXPECT_THROW(parse_cli({"--nak-rate", "2"}), CliError);
  EXPECT_THROW(parse_cli({"--other-byte", "0x100"}), CliError);
  EXPECT_THROW(parse_cli({"stray"}), CliError);
}

TEST(CliOptions, HelpListsEveryOption) {
  EXPECT_TRUE(parse_cli({"--help"}).help);
  const std::string help = cli_help();
  for (const char* name : {"--model", "--mode-code", "--password", "--echo", "--baud", "--disk-a-kib", "--disk-b-kib",
                           "--flash-dir", "--restart-after-open", "--boot", "--udp", "--probe-data", "--link",
                           "--silent", "--nak-block", "--hangup-after-block", "--bios1-answer"})
    EXPECT_NE(help.find(name), std::string::npos) << name;
}

}  // namespace
}  // namespace tq318::sim
