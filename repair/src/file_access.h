// What the engine needs of the file system beyond std::filesystem: files
// read as regular files only (never waiting on a FIFO or a device, and
// optionally never through a link), new files made exclusively for the
// owner and flushed, and the process's number. One file per platform.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tq318::repair {

class FileReader {
public:
    // Null unless `path` names a regular file that could be opened for
    // reading; with `no_follow`, also null when `path` is a symbolic link.
    static std::optional<FileReader> open(const std::filesystem::path& path, bool no_follow = false);

    FileReader(FileReader&& other) noexcept;
    FileReader& operator=(FileReader&& other) noexcept;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader();

    // The file's size when opened; null if it cannot be told.
    std::optional<std::uint64_t> size() const;
    // Bytes read into `into`: 0 at the end of the file, -1 on an error.
    long read(std::span<std::uint8_t> into);

private:
    explicit FileReader(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

enum class PathKind { Missing, Folder, Regular, Other };
PathKind pathKind(const std::filesystem::path& path);

// Writes `bytes` to the new file `path` (never an existing file, never
// through a link), readable by the owner only, and flushed to the disk.
// Empty on success, else why not (naming the file).
std::string writeNewFile(const std::filesystem::path& path, std::string_view bytes);

// Renames `from` to `to`, replacing `to`. Empty on success, else why not.
std::string replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Writes `bytes` as the new file `name` in `folder`, atomically (a hidden
// temporary file renamed into place). `folder` is made if missing and must be
// our own: a symbolic link in its place or in place of its parent is refused,
// never followed, so nothing outside is created, written or changed. Empty
// on success, else why not (naming the file or folder).
std::string writeIntoOwnFolder(const std::filesystem::path& folder, const std::string& name, std::string_view bytes);

unsigned long processNumber();

// `seconds` since the epoch as UTC calendar time.
std::tm utcCalendar(std::time_t seconds);

}  // namespace tq318::repair
