// One flash disk of the controller: a list of files and a capacity.
//
// Each file takes its size rounded up to 256 bytes of the capacity. With a
// directory, every file also lives there as DIR/<name> with its header date as
// the file's modification time, and the disk starts with what the directory holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tq318/simulator.h"

namespace tq318::sim {

class FlashDisk {
 public:
  static constexpr std::uint64_t kSector = 256;
  static constexpr std::uint64_t kMaxLoadedFile = 64ull << 20;  // larger files in the directory are skipped

  FlashDisk(char letter, std::uint64_t capacity_bytes, std::filesystem::path dir = {});

  char letter() const { return letter_; }
  std::uint64_t capacity() const { return capacity_; }
  void set_capacity(std::uint64_t bytes) { capacity_ = bytes; }
  std::uint64_t used() const;
  std::uint64_t free() const;
  // Free space once a file called `name` (if any) has been removed.
  std::uint64_t free_replacing(std::string_view name) const;
  static std::uint64_t space_for(std::uint64_t size) { return (size + kSector - 1) / kSector * kSector; }

  const std::vector<StoredFile>& files() const { return files_; }
  // Adds the file, replacing one of the same name. Date fields are clamped to
  // their ranges. Returns false when the directory could not be written (the
  // file is kept in memory all the same).
  bool store(StoredFile file);
  bool erase_all();

 private:
  void load_directory();
  bool write_through(const StoredFile& file) const;

  char letter_;
  std::uint64_t capacity_;
  std::filesystem::path dir_;
  std::vector<StoredFile> files_;
};

// Clamps every date field to its range (year 1980..2107, month 1..12, day 1..31,
// hour 0..23, minute 0..59, seconds2 0..29).
void clamp_date(StoredFile& file);

}  // namespace tq318::sim
