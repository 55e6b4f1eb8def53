// Where the platform puts a member's file in the work folder, asked of the
// platform itself: before a member is unpacked, the path it resolves the
// member's name to; after, the file it opens there. One file per platform
// (member_path_posix.cpp, win32/member_path_win32.cpp).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "member_name.h"

namespace tq318::repair {

// The longest file name and path this platform opens a file by (Linux:
// NAME_MAX, PATH_MAX; Windows: the path without the "\\?\" form, MAX_PATH).
PathLimits platformPathLimits();

// Why the path of `name` in `folder` does not resolve to the folder's own
// file `name`; empty when it does. Asked before the member is unpacked.
std::string placedPathProblem(const std::filesystem::path& folder, std::string_view name);

// Why the file now at `name` in `folder` is not a regular file lying in that
// very folder once the platform resolves its path (a link, another folder,
// another name); empty when it is. Asked after the member is unpacked.
std::string unpackedPathProblem(const std::filesystem::path& folder, std::string_view name);

}  // namespace tq318::repair
