// A new folder with a name no one else has, for this user alone. One file
// per platform (private_folder_posix.cpp, win32/private_folder_win32.cpp).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tq318::repair {

// Creates `parent`/`stem`.<six random characters>; null when it could not.
std::optional<std::filesystem::path> makePrivateFolder(const std::filesystem::path& parent,
                                                         const std::string& stem);

}  // namespace tq318::repair
