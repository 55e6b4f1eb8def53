#include "work_folder.h"

#include "private_folder.h"

#include <mutex>
#include <set>

#include <cstdlib>
#include <system_error>
#include <vector>

namespace tq318::repair {

namespace fs = std::filesystem;

fs::path tempFolder() {
    for (const char* variable : {"TEMP", "TMPDIR"}) {
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') {
            return value;
        }
    }
    std::error_code ec;
    fs::path p = fs::temp_directory_path(ec);
    return ec ? fs::path("/tmp") : p;
}

namespace {
// Every folder alive in this process, so that an end by _Exit (which runs no
// destructor) can still remove them first.
std::mutex& liveMutex() {
    static std::mutex m;
    return m;
}
std::set<fs::path>& liveFolders() {
    static std::set<fs::path> folders;
    return folders;
}
}  // namespace

void removeLiveWorkFolders() {
    const std::lock_guard lock(liveMutex());
    for (const auto& path : liveFolders()) {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    liveFolders().clear();
}

std::optional<WorkFolder> WorkFolder::create(std::string_view packageBareName) {
    std::string stem(packageBareName.size() > 4
                         ? packageBareName.substr(0, packageBareName.size() - 4)
                         : std::string_view{});
    if (stem.empty()) stem = "package";
    const auto folder = makePrivateFolder(tempFolder(), stem);
    if (!folder) return std::nullopt;
    const std::lock_guard lock(liveMutex());
    liveFolders().insert(*folder);
    return WorkFolder(*folder);
}

WorkFolder::WorkFolder(WorkFolder&& other) noexcept : path_(std::move(other.path_)) {
    other.path_.clear();
}

WorkFolder& WorkFolder::operator=(WorkFolder&& other) noexcept {
    if (this != &other) {
        remove();
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

WorkFolder::~WorkFolder() { remove(); }

void WorkFolder::remove() {
    if (path_.empty()) return;
    std::error_code ec;
    // remove_all deletes symbolic links themselves and never descends through them.
    fs::remove_all(path_, ec);
    {
        const std::lock_guard lock(liveMutex());
        liveFolders().erase(path_);
    }
    path_.clear();
}

}  // namespace tq318::repair
