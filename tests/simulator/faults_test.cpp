// The fault knobs of the console's replies, on the console directly; the block
// knobs are pinned by the transfer tests that meet them through the library.
#include <algorithm>

#include "sim_test_support.h"

namespace tq318::sim::testing {
namespace {

const std::string kIp = "\r\nIP=192.168.1.1" + kPrompt;

struct ReplyFault {
  const char* name;
  Faults faults;
  std::string input;
  std::size_t noise;     // leading random bytes, none of them part of a prompt
  std::string expected;  // everything after the noise
  Millis prompt_at;      // no '>' before this many ms; all output by one ms later
};

TEST(Faults, RepliesToCommands) {
  const ReplyFault rows[] = {
      {"none", {}, "ip\r", 0, kIp, 0},
      {"silent", {.silent = true}, "ip 1.2.3.4\r", 0, "", 0},
      {"garbage", {.garbage_before_reply = 40}, "ip\r", 40, kIp, 0},
      {"text after prompt", {.text_after_prompt = " "}, "ip\r", 0, kIp + " ", 0},
      {"long reply", {.long_reply_bytes = 12}, "ip\r", 0, "\r\nIP=192.168.1.1012345678901" + kPrompt, 0},
      {"reply delay", {.reply_delay_ms = 500}, "ip\r", 0, kIp, 500},
      {"byte stream", {.byte_stream_ms = 200}, "\r", 0, std::string(10, '.') + kPrompt, 200},
      {"muted command", {.mute_commands = {"ip"}}, "ip\r", 0, "", 0},
      {"bios1 answer", {.bios1_answer = "custom>"}, "bios1\r", 0, "custom>", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ConsoleHarness h({}, row.faults);
    h.console.feed(row.input, h.now);
    std::string out;
    if (row.prompt_at > 0) {
      out = h.wait(row.prompt_at - 1);
      EXPECT_EQ(out.find('>'), std::string::npos) << out;
    }
    out += h.wait(1);
    ASSERT_EQ(out.size(), row.noise + row.expected.size()) << out;
    EXPECT_EQ(out.substr(row.noise), row.expected);
    EXPECT_EQ(out.substr(0, row.noise).find_first_of(">\r\n"), std::string::npos);
    EXPECT_EQ(h.console.lines().back().second, row.input.substr(0, row.input.size() - 1));
    EXPECT_EQ(h.console.settings().ip, "192.168.1.1");
    h.console.set_faults({});
    EXPECT_EQ(h.send("ip\r"), kIp);
  }
}

TEST(Faults, SeededRandomFaultsRepeatAndNakRateIsRoughlyRight) {
  auto run = [](std::uint64_t seed) {
    ConsoleHarness h({.seed = seed}, {.garbage_before_reply = 16, .nak_rate = 0.5});
    std::string answers = h.send("load\r");
    const BlockBytes header = make_header_block(header_for("f", 1));
    for (int i = 0; i < 200 && !answers.ends_with(kAckS); ++i) answers += h.send(header);
    return answers;
  };
  EXPECT_EQ(run(3), run(3));
  int naks = 0, acks = 0;
  for (std::uint64_t seed = 1; seed <= 200; ++seed) {
    const std::string a = run(seed);
    naks += static_cast<int>(std::count(a.begin(), a.end(), kNak));
    acks += static_cast<int>(std::count(a.begin(), a.end(), kAck));
  }
  EXPECT_EQ(acks, 200);
  EXPECT_GT(naks, 120);  // about 200 expected
  EXPECT_LT(naks, 300);
}

}  // namespace
}  // namespace tq318::sim::testing
