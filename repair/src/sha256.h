// SHA-256 of a file, as lower-case hex, through OpenSSL's EVP interface.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tq318::repair {

// Null when the file cannot be opened or read. Opened without blocking: a
// FIFO or a device is not read (null).
std::optional<std::string> sha256OfFile(const std::filesystem::path& path);

}  // namespace tq318::repair
