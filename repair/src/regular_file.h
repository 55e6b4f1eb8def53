// Files read by exact path, as regular files only, opened without blocking
// (a FIFO or a device is never waited on).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace tq318::repair {

// True when `path` is a regular file that can be opened for reading.
bool isReadableRegularFile(const std::filesystem::path& path);

// The whole content of a regular file; null otherwise.
std::optional<std::vector<uint8_t>> readRegularFile(const std::filesystem::path& path);

}  // namespace tq318::repair
