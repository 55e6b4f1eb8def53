#include <sys/wait.h>
#include <unistd.h>

#include "cabinet_writer.h"

namespace make_package {

std::string write_cabinet(const std::filesystem::path& folder, const std::vector<std::string>& names,
                          const std::filesystem::path& output, bool compress) {
    // Every member by "./<name>", its folder part dropped again (--nopath):
    // gcab would take a bare "Z:name" for a URI and leave the member out.
    std::vector<std::string> args = {"gcab", "-c", "--nopath"};
    if (compress) args.push_back("-z");
    args.push_back(output.string());
    for (const std::string& name : names) args.push_back("./" + name);
    const pid_t child = ::fork();
    if (child < 0) return "cannot start gcab";
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0) _exit(126);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status)) return "gcab was killed";
    if (WEXITSTATUS(status) == 127) return "gcab not found (apt-get install gcab)";
    if (WEXITSTATUS(status) != 0) return "gcab failed with status " + std::to_string(WEXITSTATUS(status));
    return {};
}

}  // namespace make_package
