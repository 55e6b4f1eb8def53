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
// ..."); empty when its header is sound and the file is as long as it says.
std::string cabinetProblem(const std::filesystem::path& path);

}  // namespace tq318::repair
