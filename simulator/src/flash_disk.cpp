#include "flash_disk.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iterator>
#include <system_error>

#include "block.h"

namespace tq318::sim {
namespace fs = std::filesystem;

namespace {

// Files are written under this prefix and renamed into place, so a crash never
// leaves half a file under its real name; leftovers are skipped on loading.
constexpr std::string_view kTempPrefix = ".incoming-";

std::uint16_t clamp16(std::uint16_t v, std::uint16_t lo, std::uint16_t hi) { return std::clamp(v, lo, hi); }

StoredFile stamp_from(const fs::path& path, const std::string& name) {
  StoredFile f;
  f.name = name;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    std::tm tm{};
    const std::time_t t = st.st_mtime;
    if (::localtime_r(&t, &tm) != nullptr) {
      f.year = static_cast<std::uint16_t>(tm.tm_year + 1900);
      f.month = static_cast<std::uint16_t>(tm.tm_mon + 1);
      f.day = static_cast<std::uint16_t>(tm.tm_mday);
      f.hour = static_cast<std::uint16_t>(tm.tm_hour);
      f.minute = static_cast<std::uint16_t>(tm.tm_min);
      f.seconds2 = static_cast<std::uint16_t>(tm.tm_sec / 2);
    }
  }
  clamp_date(f);
  return f;
}

void set_mtime(const fs::path& path, const StoredFile& f) {
  std::tm tm{};
  tm.tm_year = f.year - 1900;
  tm.tm_mon = f.month - 1;
  tm.tm_mday = f.day;
  tm.tm_hour = f.hour;
  tm.tm_min = f.minute;
  tm.tm_sec = f.seconds2 * 2;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return;
  const struct timespec times[2] = {{t, 0}, {t, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

}  // namespace

void clamp_date(StoredFile& f) {
  f.year = clamp16(f.year, 1980, 2107);
  f.month = clamp16(f.month, 1, 12);
  f.day = clamp16(f.day, 1, 31);
  f.hour = clamp16(f.hour, 0, 23);
  f.minute = clamp16(f.minute, 0, 59);
  f.seconds2 = clamp16(f.seconds2, 0, 29);
}

FlashDisk::FlashDisk(char letter, std::uint64_t capacity_bytes, fs::path dir)
    : letter_(letter), capacity_(capacity_bytes), dir_(std::move(dir)) {
  if (!dir_.empty()) load_directory();
}

std::uint64_t FlashDisk::used() const {
  std::uint64_t sum = 0;
  for (const auto& f : files_) sum += space_for(f.data.size());
  return sum;
}

std::uint64_t FlashDisk::free() const {
  const std::uint64_t u = used();
  return u >= capacity_ ? 0 : capacity_ - u;
}

std::uint64_t FlashDisk::free_replacing(std::string_view name) const {
  std::uint64_t u = 0;
  for (const auto& f : files_)
    if (f.name != name) u += space_for(f.data.size());
  return u >= capacity_ ? 0 : capacity_ - u;
}

bool FlashDisk::store(StoredFile file) {
  clamp_date(file);
  const bool written = dir_.empty() || write_through(file);
  auto it = std::find_if(files_.begin(), files_.end(), [&](const StoredFile& f) { return f.name == file.name; });
  if (it != files_.end())
    *it = std::move(file);
  else
    files_.push_back(std::move(file));
  return written;
}

bool FlashDisk::erase_all() {
  files_.clear();
  if (dir_.empty()) return true;
  std::error_code ec;
  bool ok = true;
  for (const auto& entry : fs::directory_iterator(dir_, ec)) {
    if (!entry.is_regular_file(ec)) continue;
    if (!fs::remove(entry.path(), ec)) ok = false;
  }
  return ok && !ec;
}

void FlashDisk::load_directory() {
  std::error_code ec;
  fs::create_directories(dir_, ec);
  std::vector<StoredFile> loaded;
  for (const auto& entry : fs::directory_iterator(dir_, ec)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file(ec) || !valid_file_name(name) || name.starts_with(kTempPrefix)) continue;
    const auto size = entry.file_size(ec);
    if (ec || size > kMaxLoadedFile) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    if (!in) continue;
    StoredFile f = stamp_from(entry.path(), name);
    f.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    loaded.push_back(std::move(f));
  }
  std::sort(loaded.begin(), loaded.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  files_ = std::move(loaded);
}

bool FlashDisk::write_through(const StoredFile& file) const {
  std::error_code ec;
  fs::create_directories(dir_, ec);
  const fs::path target = dir_ / file.name;
  const fs::path temp = dir_ / (std::string(kTempPrefix) + file.name);
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(file.data.data()), static_cast<std::streamsize>(file.data.size()));
    if (!out.flush()) return false;
  }
  set_mtime(temp, file);
  fs::rename(temp, target, ec);
  return !ec;
}

}  // namespace tq318::sim
