#include "sha256.h"

#include <array>

#include "file_access.h"
#include "sha256_digest.h"

namespace tq318::repair {

std::optional<std::string> sha256OfFile(const std::filesystem::path& path) {
    auto file = FileReader::open(path);
    if (!file) return std::nullopt;
    Sha256Digest digest;
    std::array<std::uint8_t, 65536> block;
    for (;;) {
        const long n = file->read(block);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        if (!digest.update(std::span(block).first(static_cast<std::size_t>(n)))) return std::nullopt;
    }
    const auto value = digest.finish();
    if (!value) return std::nullopt;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : *value) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

}  // namespace tq318::repair
