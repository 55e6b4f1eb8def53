#include "member_path.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

namespace tq318::repair {

namespace {

// The path with every link and dot resolved; empty when it cannot be.
std::string resolved(const std::filesystem::path& path) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

}  // namespace

PathLimits platformPathLimits() { return {NAME_MAX, PATH_MAX - 1}; }

std::string placedPathProblem(const std::filesystem::path& folder, std::string_view name) {
    const std::filesystem::path path = folder / std::string(name);
    if (path.parent_path() != folder || path.filename() != std::string(name))
        return "its path " + path.string() + " lies outside the work folder";
    return {};
}

std::string unpackedPathProblem(const std::filesystem::path& folder, std::string_view name) {
    const std::filesystem::path path = folder / std::string(name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "it was not unpacked as a regular file";
    const std::string real = resolved(path);
    const std::string realFolder = resolved(folder);
    if (real.empty() || realFolder.empty() || real != realFolder + "/" + std::string(name))
        return "it was unpacked to " + (real.empty() ? path.string() : real) + ", outside the work folder";
    return {};
}

}  // namespace tq318::repair
