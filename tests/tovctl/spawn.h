// Runs a program as a child process (stdin /dev/null, stdout and stderr
// captured), waiting for it at once or later.
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

// Starts `program` with `args` and the file actions given; `env` entries
// ("NAME=value") are added to this process's environment. -1 when it failed.
inline pid_t spawn_with(const std::string& program, const Args& args, const Args& env,
                        const posix_spawn_file_actions_t& actions) {
    Args all{program}, envs(env);
    all.insert(all.end(), args.begin(), args.end());
    for (char** e = environ; *e != nullptr; ++e) envs.emplace_back(*e);
    std::vector<char*> argv, envp;
    for (auto& a : all) argv.push_back(a.data());
    for (auto& e : envs) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0 ? pid : -1;
}

// A started child; finish() waits for it and collects what it wrote.
class Child {
public:
    // Starts `program` with `args`; `env` entries ("NAME=value") are added for the child.
    Child(const std::string& program, const Args& args, const Args& env = {}) {
        out_ = (dir_ / "out").string();
        err_ = (dir_ / "err").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT, 0600);
        pid_ = spawn_with(program, args, env, actions);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { finish(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    Result finish() {
        if (pid_ <= 0) return result_;
        int ws = 0;
        if (::waitpid(pid_, &ws, 0) == pid_) {
            result_ = {WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws), testing_support::read_file(out_),
                       testing_support::read_file(err_)};
        }
        pid_ = -1;
        return result_;
    }

private:
    testing_support::TempDir dir_;
    std::string out_, err_;
    pid_t pid_ = -1;
    Result result_;
};

// Runs `program` with `args` and waits for it.
inline Result run(const std::string& program, const Args& args, const Args& env = {}) {
    return Child(program, args, env).finish();
}

}  // namespace tovctl_test
