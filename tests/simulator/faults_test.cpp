// Each fault knob, on the console directly.
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

struct BlockFault {
  const char* name;
  Faults faults;
  const char* command;
  std::vector<int> sends;  // blocks sent, in order (0 = header)
  std::vector<std::string> answers;
  bool hangs_up;
};

TEST(Faults, AnswersToBlocks) {
  const std::string saved = kAckS + "\r\nFile f saved, 600 bytes" + kPrompt;
  const std::string A = kAckS, N = kNakS;
  const BlockFault rows[] = {
      {"nak a data block", {.nak_block = 2, .nak_times = 2}, "load", {0, 1, 2, 2, 2, 3}, {A, A, N, N, A, saved}, false},
      {"nak the header", {.nak_block = 0, .nak_times = 3}, "load", {0, 0, 0, 0}, {N, N, N, A}, false},
      {"swallow", {.swallow_block = 1, .swallow_times = 1}, "load", {0, 1, 1, 2}, {A, "", A, A}, false},
      {"other byte", {.other_byte_block = 1, .other_byte = 'Q'}, "load", {0, 1}, {A, "Q"}, false},
      {"hang up", {.hangup_after_block = 1}, "load", {0, 1}, {A, A}, true},
      {"upload report", {.upload_report = "\r\nweird report"}, "upload", {0, 1, 2, 3}, {A, A, A, A + "\r\nweird report"},
       false},
  };
  const auto blocks = file_blocks(header_for("f", 600), pattern(600));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ConsoleHarness h({}, row.faults);
    EXPECT_EQ(h.send(std::string(row.command) + "\r"), "\r\nReady to receive file !");
    for (std::size_t i = 0; i < row.sends.size(); ++i) {
      EXPECT_FALSE(h.console.hang_up_requested()) << "before send " << i;
      EXPECT_EQ(h.send(blocks[row.sends[i]]), row.answers[i]) << "send " << i;
    }
    EXPECT_EQ(h.console.hang_up_requested(), row.hangs_up);
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
