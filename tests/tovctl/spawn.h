// What the tovctl tests share: the built program run as a child process
// (stdin /dev/null, stdout and stderr captured), simulated controllers, and
// packages made by the kit's package writer, with records and work folders
// kept in the test's own folder.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "package_writer.h"
#include "temp_dir.h"
#include "tq318/simulator.h"

extern char** environ;

namespace tovctl_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Args = std::vector<std::string>;
using Json = nlohmann::json;
using Members = std::vector<std::pair<std::string, std::string>>;

struct Result {
    int status = -1;  // 128 + signal when killed; -1 when it did not end in time
    std::string out, err;
};

inline std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

// Every line of `out` as a JSON object; a line that is not one fails the test.
inline std::vector<Json> json_lines(const std::string& out) {
    std::vector<Json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(Json::parse(line, nullptr, false));
        EXPECT_TRUE(lines.back().is_object()) << "not a JSON object: " << line;
    }
    return lines;
}

// A started child: `env` entries ("NAME=value") are added to this process's
// environment; its stdout goes to `out_fd` when one is given. The child is
// killed if it still runs when this goes.
class Child {
public:
    Child(const std::string& program, const Args& args, const Args& env = {}, int out_fd = -1) {
        Args all{program}, envs(env);
        all.insert(all.end(), args.begin(), args.end());
        for (char** e = environ; *e != nullptr; ++e) envs.emplace_back(*e);
        std::vector<char*> argv, envp;
        for (auto& a : all) argv.push_back(a.data());
        for (auto& e : envs) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (out_fd >= 0) {
            posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT, 0600);
        }
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT, 0600);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_GT(pid_, 0) << program;
    }
    ~Child() {
        if (pid_ > 0) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void signal(int s) const { ::kill(pid_, s); }
    // Waits at most `limit` for the end; what it wrote so far either way.
    Result finish(std::chrono::seconds limit = 120s) {
        for (const auto end = std::chrono::steady_clock::now() + limit; pid_ > 0;) {
            int ws = 0;
            if (::waitpid(pid_, &ws, WNOHANG) == pid_) {
                status_ = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
                pid_ = -1;
            } else if (std::chrono::steady_clock::now() > end) {
                break;
            } else {
                std::this_thread::sleep_for(10ms);
            }
        }
        return {status_, testing_support::read_file(out_), testing_support::read_file(err_)};
    }

private:
    testing_support::TempDir dir_;
    std::string out_ = (dir_ / "out").string(), err_ = (dir_ / "err").string();
    pid_t pid_ = -1;
    int status_ = -1;
};

inline Result run(const std::string& program, const Args& args, const Args& env = {}) {
    return Child(program, args, env).finish();
}

// Simulated controllers and tovctl runs against them; records and work
// folders stay in this test's folder.
class Bench : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(temp_ / "work"); }
    tq318::Simulator& add_sim(const std::function<void(tq318::SimulatorOptions&)>& change = {}) {
        tq318::SimulatorOptions o;
        o.disk_a_kib = 4096;
        o.disk_b_kib = 4096;
        if (change) change(o);
        sims_.push_back(std::make_unique<tq318::Simulator>(o));
        sims_.back()->start();
        return *sims_.back();
    }
    // A package of `members`; `program` is the member the package starts.
    fs::path package(const Members& members, const std::string& program = "") {
        const fs::path dir = temp_ / ("members" + std::to_string(++packages_));
        fs::create_directories(dir);
        for (const auto& [name, bytes] : members) testing_support::write_file(dir / name, bytes);
        const fs::path out = temp_ / ("p" + std::to_string(packages_)) / "tq318.hex";
        fs::create_directories(out.parent_path());
        EXPECT_EQ(make_package::write_package({dir, out, program, true}), "");
        return out;
    }
    Args env(const Args& more = {}) const {
        Args all{"XDG_STATE_HOME=" + (temp_ / "state").string(), "TEMP=" + (temp_ / "work").string(),
                 "TMPDIR=" + (temp_ / "work").string()};
        all.insert(all.end(), more.begin(), more.end());
        return all;
    }
    static Args with_ports(const Args& ports, const Args& args) {
        Args all;
        for (const auto& p : ports) all.insert(all.end(), {"--port", p});
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
    // tovctl on `ports`; waits until it has let go of every controller.
    Result tovctl(const Args& ports, const Args& args, const Args& more_env = {}) {
        Result r = run(TOVCTL_PATH, with_ports(ports, args), env(more_env));
        for (auto& s : sims_) s->wait_for_slave(false, 2s);
        return r;
    }
    std::vector<Json> records() {
        const Result r = tovctl({}, {"--json", "history"});
        EXPECT_EQ(r.status, 0) << r.err;
        return json_lines(r.out);
    }

    testing_support::TempDir temp_;
    std::vector<std::unique_ptr<tq318::Simulator>> sims_;
    int packages_ = 0;
};

}  // namespace tovctl_test
