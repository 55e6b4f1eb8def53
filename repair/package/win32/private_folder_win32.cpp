// The folder inherits the access of the user's own temporary folder;
// CreateDirectory fails when the name exists, so no one else's folder (or
// link) is ever taken for ours.
#include <windows.h>
#include <bcrypt.h>

#include <array>

#include "private_folder.h"

namespace tq318::repair {

std::optional<std::filesystem::path> makePrivateFolder(const std::filesystem::path& parent,
                                                         const std::string& stem) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::array<unsigned char, 6> random{};
        if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, random.data(), random.size(), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            return std::nullopt;
        std::string name = stem + ".";
        for (const unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
        const std::filesystem::path folder = parent / name;
        if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace tq318::repair
