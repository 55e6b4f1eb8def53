#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "flash_disk.h"

namespace tq318::sim {
namespace {
namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "tq318-disk-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

StoredFile file(std::string name, std::size_t size) {
  StoredFile f;
  f.name = std::move(name);
  f.data.assign(size, 0xAB);
  f.year = 2026;
  f.month = 12;
  f.day = 6;
  f.hour = 12;
  f.minute = 34;
  f.seconds2 = 28;
  return f;
}

TEST(FlashDisk, FilesTakeWhole256ByteSectors) {
  FlashDisk d('A', 1024 * 1024);
  EXPECT_EQ(d.free(), 1048576u);
  d.store(file("a", 26));
  EXPECT_EQ(d.free(), 1048320u);
  d.store(file("b", 256));
  d.store(file("c", 257));
  EXPECT_EQ(d.used(), 256u + 256u + 512u);
  d.store(file("z", 0));
  EXPECT_EQ(d.used(), 1024u);
}

TEST(FlashDisk, SameNameReplaces) {
  FlashDisk d('B', 4096);
  d.store(file("x", 1000));
  d.store(file("y", 10));
  d.store(file("x", 5));
  ASSERT_EQ(d.files().size(), 2u);
  EXPECT_EQ(d.files()[0].data.size(), 5u);
  EXPECT_EQ(d.free_replacing("y"), 4096u - 256u);
}

TEST(FlashDisk, FreeNeverUnderflowsAfterShrinking) {
  FlashDisk d('A', 4096);
  d.store(file("x", 4000));
  d.set_capacity(1024);
  EXPECT_EQ(d.free(), 0u);
}

TEST(FlashDisk, ClampsDatesToTheirRanges) {
  StoredFile f = file("x", 1);
  f.year = 65000;
  f.month = 0;
  f.day = 99;
  f.hour = 24;
  f.minute = 60;
  f.seconds2 = 30;
  clamp_date(f);
  EXPECT_EQ(f.year, 2107);
  EXPECT_EQ(f.month, 1);
  EXPECT_EQ(f.day, 31);
  EXPECT_EQ(f.hour, 23);
  EXPECT_EQ(f.minute, 59);
  EXPECT_EQ(f.seconds2, 29);
}

TEST(FlashDisk, DirectoryKeepsFilesAndDates) {
  TempDir tmp;
  {
    FlashDisk d('A', 1 << 20, tmp.path() / "A");
    StoredFile f = file("tq318.exe", 300);
    f.data[299] = 0x42;
    EXPECT_TRUE(d.store(f));
  }
  ASSERT_TRUE(fs::exists(tmp.path() / "A" / "tq318.exe"));
  FlashDisk again('A', 1 << 20, tmp.path() / "A");
  ASSERT_EQ(again.files().size(), 1u);
  const StoredFile& f = again.files()[0];
  EXPECT_EQ(f.name, "tq318.exe");
  ASSERT_EQ(f.data.size(), 300u);
  EXPECT_EQ(f.data[299], 0x42);
  EXPECT_EQ(f.year, 2026);
  EXPECT_EQ(f.month, 12);
  EXPECT_EQ(f.day, 6);
  EXPECT_EQ(f.hour, 12);
  EXPECT_EQ(f.minute, 34);
  EXPECT_EQ(f.seconds2, 28);
}

TEST(FlashDisk, EraseAllEmptiesTheDirectoryToo) {
  TempDir tmp;
  FlashDisk d('B', 1 << 20, tmp.path() / "B");
  d.store(file("one", 1));
  d.store(file("two", 2));
  EXPECT_TRUE(d.erase_all());
  EXPECT_TRUE(d.files().empty());
  EXPECT_TRUE(fs::is_empty(tmp.path() / "B"));
  FlashDisk again('B', 1 << 20, tmp.path() / "B");
  EXPECT_TRUE(again.files().empty());
}

TEST(FlashDisk, LoadingSkipsBadNamesAndLeftovers) {
  TempDir tmp;
  fs::create_directories(tmp.path() / "A");
  for (const char* name : {"good.bin", "name-too-long.bin", ".incoming-x", "ok"}) {
    std::ofstream(tmp.path() / "A" / name) << "data";
  }
  fs::create_directories(tmp.path() / "A" / "subdir");
  FlashDisk d('A', 1 << 20, tmp.path() / "A");
  ASSERT_EQ(d.files().size(), 2u);
  EXPECT_EQ(d.files()[0].name, "good.bin");
  EXPECT_EQ(d.files()[1].name, "ok");
}

}  // namespace
}  // namespace tq318::sim
