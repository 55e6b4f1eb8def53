#include <stdlib.h>

#include <vector>

#include "private_folder.h"

namespace tq318::repair {

std::optional<std::filesystem::path> makePrivateFolder(const std::filesystem::path& parent,
                                                         const std::string& stem) {
    const std::string pattern = (parent / (stem + ".XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) return std::nullopt;  // mode 0700
    return std::filesystem::path(buffer.data());
}

}  // namespace tq318::repair
