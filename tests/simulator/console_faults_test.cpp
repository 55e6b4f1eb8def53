#include <gtest/gtest.h>

#include "console_harness.h"

namespace tq318::sim::testing {
namespace {

ConsoleHarness with(const Faults& f, SimulatorOptions o = {}) {
  ConsoleHarness h(std::move(o));
  h.console.set_faults(f);
  return h;
}

// Starts a load of a 3-block file and returns the blocks (header first).
std::vector<BlockBytes> start_load(ConsoleHarness& h) {
  h.send("load\r");
  std::vector<BlockBytes> blocks{make_header_block(header_for("f", 600))};
  for (const auto& b : data_blocks(pattern(600))) blocks.push_back(b);
  return blocks;
}

TEST(ConsoleFaults, SilentTakesLinesButAnswersNothing) {
  Faults f;
  f.silent = true;
  auto h = with(f);
  EXPECT_EQ(h.send("ip 1.2.3.4\r"), "");
  EXPECT_EQ(h.console.lines().back().second, "ip 1.2.3.4");
  EXPECT_EQ(h.console.settings().ip, "192.168.1.1");
  h.console.set_faults({});
  EXPECT_EQ(h.send("ip\r"), "\r\nIP=192.168.1.1" + kPrompt);
}

TEST(ConsoleFaults, GarbageBeforeEachReplyHoldsNoPrompt) {
  Faults f;
  f.garbage_before_reply = 40;
  auto h = with(f);
  const std::string out = h.send("ip\r");
  const std::string tail = "\r\nIP=192.168.1.1" + kPrompt;
  ASSERT_EQ(out.size(), 40 + tail.size());
  EXPECT_TRUE(out.ends_with(tail));
  EXPECT_EQ(out.substr(0, 40).find_first_of(">!?\r\n"), std::string::npos);
}

TEST(ConsoleFaults, GarbageIsRepeatableForASeed) {
  Faults f;
  f.garbage_before_reply = 16;
  SimulatorOptions o;
  o.seed = 42;
  auto a = with(f, o);
  auto b = with(f, o);
  EXPECT_EQ(a.send("\r"), b.send("\r"));
}

TEST(ConsoleFaults, TextAfterPromptAndLongReplies) {
  Faults f;
  f.text_after_prompt = " ";
  f.long_reply_bytes = 2000;
  auto h = with(f);
  const std::string out = h.send("ip\r");
  EXPECT_TRUE(out.starts_with("\r\nIP=192.168.1.1"));
  EXPECT_TRUE(out.ends_with(kPrompt + " "));
  EXPECT_EQ(out.size(), std::string("\r\nIP=192.168.1.1").size() + 2000 + kPrompt.size() + 1);
  EXPECT_EQ(out.find('>'), out.size() - 2);
}

TEST(ConsoleFaults, ReplyDelay) {
  Faults f;
  f.reply_delay_ms = 500;
  auto h = with(f);
  h.console.feed("ip\r", h.now);
  EXPECT_EQ(h.wait(499), "");
  EXPECT_EQ(h.wait(1), "\r\nIP=192.168.1.1" + kPrompt);
}

TEST(ConsoleFaults, ByteStreamAfterALoneCr) {
  Faults f;
  f.byte_stream_ms = 200;
  auto h = with(f);
  h.console.feed("\r", h.now);
  std::string seen = h.console.take_output(h.now);
  for (int i = 0; i < 10; ++i) {
    const std::string step = h.wait(20);
    EXPECT_EQ(step.find('>'), i < 9 ? std::string::npos : step.size() - 1) << i;
    seen += step;
  }
  EXPECT_EQ(seen, std::string(10, '.') + kPrompt);
  // Other commands are not affected.
  EXPECT_EQ(h.send("ip\r"), "\r\nIP=192.168.1.1" + kPrompt);
}

TEST(ConsoleFaults, NakTheFirstTriesOfOneBlock) {
  Faults f;
  f.nak_block = 2;
  f.nak_times = 2;
  auto h = with(f);
  const auto blocks = start_load(h);
  EXPECT_EQ(h.send(blocks[0]), ack());
  EXPECT_EQ(h.send(blocks[1]), ack());
  EXPECT_EQ(h.send(blocks[2]), nak());
  EXPECT_EQ(h.send(blocks[2]), nak());
  EXPECT_EQ(h.send(blocks[2]), ack());
  EXPECT_TRUE(h.send(blocks[3]).starts_with(ack() + "\r\nFile f saved"));
}

TEST(ConsoleFaults, NakOfTheHeader) {
  Faults f;
  f.nak_block = 0;
  f.nak_times = 3;
  auto h = with(f);
  const auto blocks = start_load(h);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(h.send(blocks[0]), nak());
  EXPECT_EQ(h.send(blocks[0]), ack());
}

TEST(ConsoleFaults, NakRateIsSeededAndRoughlyRight) {
  Faults f;
  f.nak_rate = 0.5;
  auto run = [&](std::uint64_t seed) {
    SimulatorOptions o;
    o.seed = seed;
    auto h = with(f, o);
    h.send("load\r");
    const BlockBytes header = make_header_block(header_for("f", 1));
    std::string answers;
    for (int i = 0; i < 200; ++i) {
      const std::string a = h.send(header);
      answers += a;
      if (a == ack()) break;
    }
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

TEST(ConsoleFaults, SwallowGivesNoAnswerThenAnswers) {
  Faults f;
  f.swallow_block = 1;
  f.swallow_times = 1;
  auto h = with(f);
  const auto blocks = start_load(h);
  EXPECT_EQ(h.send(blocks[0]), ack());
  EXPECT_EQ(h.send(blocks[1]), "");
  EXPECT_EQ(h.send(blocks[1]), ack());
}

TEST(ConsoleFaults, OtherByteAnswer) {
  Faults f;
  f.other_byte_block = 1;
  f.other_byte = 'Q';
  auto h = with(f);
  const auto blocks = start_load(h);
  EXPECT_EQ(h.send(blocks[0]), ack());
  EXPECT_EQ(h.send(blocks[1]), "Q");
}

TEST(ConsoleFaults, HangupAfterTheAckOfABlock) {
  Faults f;
  f.hangup_after_block = 1;
  auto h = with(f);
  const auto blocks = start_load(h);
  h.send(blocks[0]);
  EXPECT_FALSE(h.console.hang_up_requested());
  EXPECT_EQ(h.send(blocks[1]), ack());
  EXPECT_TRUE(h.console.hang_up_requested());
}

TEST(ConsoleFaults, Bios1AnswerAndUploadReportReplaceTheWholeText) {
  Faults f;
  f.bios1_answer = "custom>";
  f.upload_report = "\r\nweird report";
  auto h = with(f);
  EXPECT_EQ(h.send("bios1\r"), "custom>");
  h.send("upload\r");
  h.send(make_header_block(header_for("os.img", 3)));
  EXPECT_EQ(h.send(data_blocks(pattern(3))[0]), ack() + "\r\nweird report");
  EXPECT_TRUE(h.console.ready());
}

TEST(ConsoleFaults, ABacklogThatNobodyDrainsIsBounded) {
  Faults f;
  f.reply_delay_ms = 1000000;
  f.long_reply_bytes = 100000;
  auto h = with(f);
  std::string lines;
  for (int i = 0; i < 200; ++i) lines += "ip\r";
  h.console.feed(lines, h.now);
  h.console.feed(lines, h.now);
  const std::string out = h.wait(2000000);
  EXPECT_LE(out.size(), Console::kMaxPendingBytes);
  EXPECT_GT(out.size(), 0u);
}

}  // namespace
}  // namespace tq318::sim::testing
