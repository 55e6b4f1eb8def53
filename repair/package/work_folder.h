// The private folder a firmware package is unpacked into: created new for
// every run (mode 0700, unique name), removed with everything in it when
// the run ends, without a shell and without following links out of it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tq318::repair {

// The folder for temporary files: TEMP, else TMPDIR, else the platform's.
std::filesystem::path tempFolder();

// Removes every work folder this process still holds (before an end by
// _Exit, which runs no destructor).
void removeLiveWorkFolders();

class WorkFolder {
public:
    // Creates <temp>/<stem>.XXXXXX, where stem is the package's bare name
    // without its last four characters (its extension); an empty stem
    // becomes "package". Null when the folder cannot be made.
    static std::optional<WorkFolder> create(std::string_view packageBareName);

    WorkFolder(WorkFolder&& other) noexcept;
    WorkFolder& operator=(WorkFolder&& other) noexcept;
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    ~WorkFolder();

    const std::filesystem::path& path() const { return path_; }
    // The path of a member inside the folder.
    std::filesystem::path member(std::string_view name) const { return path_ / std::string(name); }
    // Removes the folder and all it holds; links inside are removed, never followed.
    void remove();

private:
    explicit WorkFolder(std::filesystem::path path) : path_(std::move(path)) {}
    std::filesystem::path path_;
};

}  // namespace tq318::repair
