// Why a package or an image cannot be used, in words for the technician: the
// line shown after "HEX file Error !!" and the reason a command line prints.
#pragma once

#include <filesystem>
#include <string>

namespace tq318::repair {

// Why `path` is not a readable regular file ("not found", "a folder", ...);
// empty when it is one.
std::string fileProblem(const std::filesystem::path& path);

// Why `path` is not a whole cabinet archive ("not a cabinet", "truncated:
// ..."), or, given a `member` that could not be unpacked, why not ("damaged:
// ...", over a package's limits); empty when the cabinet looks whole and its
// file table does not name the member.
std::string cabinetProblem(const std::filesystem::path& path, const std::string& member = {});

}  // namespace tq318::repair
