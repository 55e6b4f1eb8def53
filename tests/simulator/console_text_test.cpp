#include <gtest/gtest.h>

#include <cstdlib>

#include "console_text.h"

namespace tq318::sim {
namespace {

StoredFile entry(std::string name, std::size_t size) {
  StoredFile f;
  f.name = std::move(name);
  f.data.assign(size, 0);
  f.year = 2026;
  f.month = 12;
  f.day = 6;
  f.hour = 12;
  f.minute = 34;
  f.seconds2 = 28;
  return f;
}

TEST(ConsoleText, DirEntrySizeStands41CharactersAfterTheParen) {
  for (std::size_t index : {0u, 9u, 10u, 99u}) {
    for (const char* name : {"a", "tq318.exe", "abcdefghijkl"}) {
      const std::string line = dir_entry_text(index, entry(name, 0x1A));
      const std::size_t paren = line.find(')');
      ASSERT_NE(paren, std::string::npos);
      EXPECT_EQ(line.substr(0, paren), std::to_string(index));
      EXPECT_EQ(line.substr(paren + 41), "0001A") << line;
      EXPECT_EQ(line.substr(paren + 16, 19), "2026/12/06 12:34:56") << line;
    }
  }
}

TEST(ConsoleText, DirEntryWordsAndLargeSizes) {
  const std::string line = dir_entry_text(0, entry("tq318.exe", 0x12345));
  EXPECT_EQ(line, "0) tq318.exe     2026/12/06 12:34:56      12345");
  const std::string big = dir_entry_text(3, entry("x", 0x123456));
  EXPECT_EQ(big.substr(big.find(')') + 41), "123456");
}

TEST(ConsoleText, DirListsBothDisksWithCountsAndFreeSpace) {
  FlashDisk a('A', 1 << 20), b('B', 3 << 20);
  a.store(entry("tq318.exe", 26));
  const std::string text = dir_text(a, b);
  EXPECT_EQ(text.rfind("\r\nFiles in Disk A:\r\n0) tq318.exe", 0), 0u);
  const auto total = text.find("Total File number is");
  ASSERT_NE(total, std::string::npos);
  EXPECT_EQ(std::atoi(text.c_str() + total + 21), 1);
  const auto free = text.find("Free space");
  EXPECT_EQ(text.substr(free + 11, 9), " 1048320\r");
  const auto disk_b = text.find("Files in Disk B:");
  ASSERT_NE(disk_b, std::string::npos);
  const auto total_b = text.find("Total File number is", disk_b);
  EXPECT_EQ(std::atoi(text.c_str() + total_b + 21), 0);
  EXPECT_TRUE(text.ends_with("Free space: 3145728"));
}

TEST(ConsoleText, BannerCarriesTheModeCodeAtCharacters21And22) {
  const std::string banner = banner_text("XY");
  EXPECT_TRUE(banner.starts_with("HALVERN Tovrane"));
  EXPECT_EQ(banner.substr(20, 2), "XY");
  EXPECT_TRUE(banner.ends_with(" repair console\r\n"));
}

TEST(ConsoleText, VersionFieldsStandWhereTheyAreRead) {
  const std::string v = ver_text("TQ318-5314A", false);
  const auto model = v.find("Tovrane for");
  EXPECT_EQ(v.substr(model + 12, 11), "TQ318-5314A");
  const auto ver = v.find("Ver.");
  EXPECT_EQ(v[ver + 5], '1');
  EXPECT_EQ(v.substr(ver + 7, 2), "23");
  const auto build = v.find("build");
  EXPECT_EQ(v.substr(build + 6, 3), "003");
  EXPECT_EQ(v.substr(build + 10), "Dec 06 2026");
  EXPECT_NE(v.find("FLASH MEMORY: 4MB"), std::string::npos);
  const std::string udp = ver_text("X", true);
  EXPECT_EQ(udp.substr(udp.find("Tovrane_UDP for") + 16), "X\r\nFLASH MEMORY: 4MB\r\nVer. 1.23 build 003 Dec 06 2026");
}

TEST(ConsoleText, NoImageAnswerMakes50CharactersWithThePrompt) {
  for (const char* model : {"TQ318-5314A", "A", "TQ318-4400-LONG-NAME-FOR-TESTS"}) {
    const std::string prompt = prompt_text(model);
    const std::string all = no_image_answer(prompt) + prompt;
    EXPECT_EQ(all.size(), 50u) << model;
    EXPECT_EQ(all.back(), '>');
    EXPECT_TRUE(all.starts_with("\r\nNo OS image")) << model;
  }
}

TEST(ConsoleText, SettingsTexts) {
  EXPECT_EQ(com_current_text(1, ComSetting{}), "\r\nCOM 1 Current set is: 115200,8,0,1");
  EXPECT_EQ(com_set_text(3, ComSetting{9600, 7, 2, 2}), "\r\nCOM 3 Set to: 9600,7,o,2");
  EXPECT_EQ(disk_size_text(1024, 3072), "\r\nSizeA=1024 SizeB=3072");
  EXPECT_EQ(not_enough_space_text('B', 512, 256), "\r\nNOT enough space on disk B (need 512, free 256)");
  EXPECT_EQ(image_report_text(9, 0x31C3), "\r\nImage received, 9 bytes, CRC16=31C3");
}

}  // namespace
}  // namespace tq318::sim
