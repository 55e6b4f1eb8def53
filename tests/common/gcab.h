// Packing test archives with gcab, as a firmware package's maker would.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// Runs gcab in `folder` to pack exactly `names` into `archive` (MSZIP when
// `compress`); true when gcab succeeded.
inline bool gcab_pack(const std::filesystem::path& folder, const std::filesystem::path& archive,
                      const std::vector<std::string>& names, bool compress) {
    std::vector<std::string> args = {"gcab", "-c"};
    if (compress) args.push_back("-z");
    args.push_back(std::filesystem::absolute(archive).string());
    args.insert(args.end(), names.begin(), names.end());
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0) _exit(127);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp("gcab", argv.data());
        _exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace testing_support
