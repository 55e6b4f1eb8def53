#include "regular_file.h"

#include "file_access.h"

namespace tq318::repair {

bool isReadableRegularFile(const std::filesystem::path& path) { return FileReader::open(path).has_value(); }

std::optional<std::vector<uint8_t>> readRegularFile(const std::filesystem::path& path) {
    auto file = FileReader::open(path);
    if (!file) return std::nullopt;
    std::vector<uint8_t> bytes;
    uint8_t block[65536];
    for (;;) {
        const long n = file->read(block);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        bytes.insert(bytes.end(), block, block + n);
    }
    return bytes;
}

}  // namespace tq318::repair
