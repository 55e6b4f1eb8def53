// The console on a simulated clock: what the kit relies on and no end-to-end
// test pins (settings kept over a restart, the space check, the bios1 answer's
// length, the seeded faults repeating, the adapter's packets).
#include <algorithm>

#include "adapter_model.h"
#include "sim_test_support.h"

namespace tq318::sim::testing {
namespace {

// Each row: a command and its reply, then a query and its reply after a power restart.
struct SettingRow {
  const char *command, *reply, *query, *after_restart;
};
constexpr SettingRow kSettings[] = {
    {"ip 010.000.001.009", "IP=10.0.1.9", "ip", "IP=10.0.1.9"},
    {"ip 1.2.3.256", "Invalid address", "ip", "IP=10.0.1.9"},
    {"IP 1.2.3", "Invalid address", "ip", "IP=10.0.1.9"},
    {"gateway 10.0.0.1", "Gateway=10.0.0.1", "gateway", "Gateway=10.0.0.1"},
    {"setcom 2 9600 7 e 2", "COM 2 Set to: 9600,7,e,2", "setcom 2", "COM 2 Current set is: 9600,7,1,2"},
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
}

TEST(Console, NotEnoughSpaceAnswersInsteadOfAckAndAReplacedFileFreesItsSpace) {
  ConsoleHarness h({.disk_a_kib = 1});
  h.send("load\r");
  EXPECT_EQ(h.send(make_header_block(header_for("big", 1025))),
            "\r\nNOT enough space on disk A (need 1280, free 1024)" + kPrompt);
  for (std::uint32_t size : {1000u, 1024u}) {
    EXPECT_EQ(h.send("load\r"), "\r\nReady to receive file !");
    const auto blocks = file_blocks(header_for("big", size), pattern(size));
    std::string last;
    for (const auto& b : blocks) last = h.send(b);
    EXPECT_EQ(last, kAckS + "\r\nFile big saved, " + std::to_string(size) + " bytes" + kPrompt);
  }
  h.send("load\r");
  EXPECT_EQ(h.send(make_header_block(header_for("other", 1))), "\r\nNOT enough space on disk A (need 256, free 0)" + kPrompt);
}

TEST(Console, Bios1WithoutAnImageAnswers50CharactersOnce) {
  for (const char* model : {"A", "TQ318-4400-LONG-NAME-FOR-TESTS"}) {
    ConsoleHarness h({.model = model});
    const std::string out = h.send(std::string_view("bios1\r\0", 7));  // the zero byte draws no second answer
    EXPECT_EQ(out.size(), 50u) << out;
    EXPECT_TRUE(out.starts_with("\r\nNo OS image") && out.ends_with(std::string(model) + ">")) << out;
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
  int naks = 0;
  for (std::uint64_t seed = 1; seed <= 200; ++seed) {
    const std::string a = run(seed);
    naks += static_cast<int>(std::count(a.begin(), a.end(), kNak));
  }
  EXPECT_GT(naks, 120);  // about 200 expected
  EXPECT_LT(naks, 300);
}

// The USB adapter: full packets at once, a partial one only after the latency timer.
TEST(Adapter, FullPacketsGoAtOnceAndTheRestAfterTheTimer) {
  constexpr std::int64_t kMs = 1'000'000;
  AdapterModel a(40, 62);
  auto take = [&a](std::int64_t now) {
    const std::size_t n = a.ready(now).size();
    a.consume(n);
    return n;
  };
  const std::string reply(130, 'x');
  a.push(std::string_view(reply).substr(0, 70), 1 * kMs);
  EXPECT_EQ(take(1 * kMs), 62u);
  a.push(std::string_view(reply).substr(70), 5 * kMs);
  EXPECT_EQ(take(5 * kMs), 62u);
  EXPECT_EQ(take(44 * kMs), 0u);  // 6 bytes held: the timer restarted at 5 ms
  EXPECT_EQ(take(45 * kMs), 6u);
  EXPECT_TRUE(a.empty());
}

}  // namespace
}  // namespace tq318::sim::testing
