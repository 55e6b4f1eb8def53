// Runs a program as a child process (stdin /dev/null, stdout and stderr
// captured) and waits for it.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "temp_dir.h"

extern char** environ;

namespace tovctl_test {

using Args = std::vector<std::string>;

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs `program` with `args`; `env` entries ("NAME=value") are added for the child.
inline Result run(const std::string& program, const Args& args, const Args& env = {}) {
    testing_support::TempDir dir;
    const std::string out = (dir / "out").string(), err = (dir / "err").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
    Args all{program}, envs(env);
    all.insert(all.end(), args.begin(), args.end());
    for (char** e = environ; *e != nullptr; ++e) envs.emplace_back(*e);
    std::vector<char*> argv, envp;
    for (auto& a : all) argv.push_back(a.data());
    for (auto& e : envs) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    int ws = 0;
    if (spawned != 0 || ::waitpid(pid, &ws, 0) != pid) return {};
    return {WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws), testing_support::read_file(out),
            testing_support::read_file(err)};
}

}  // namespace tovctl_test
