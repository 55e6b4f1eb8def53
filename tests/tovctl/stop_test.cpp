// Stopping repairs with signals: the built tovctl against simulated
// controllers on real ptys, each signal sent at a point the test sees (a line
// the controller received, a note in the line's transcript).
#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "package_writer.h"
#include "spawn.h"
#include "temp_dir.h"
#include "tq318/simulator.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::TempDir;
using tovctl_test::Args;
using Json = nlohmann::json;

constexpr std::uint32_t kPacedBaud = 115200;  // about 11 KiB/s: a 60 KiB member takes seconds

std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

// tovctl started in the background, its output in files.
class Running {
public:
    Running(const Args& args, const Args& env, const fs::path& dir) : out_(dir / "out"), err_(dir / "err") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_ = tovctl_test::spawn_with(TOVCTL_PATH, args, env, actions);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Running() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool started() const { return pid_ > 0; }
    void signal(int s) const { ::kill(pid_, s); }
    // The exit status (128 + signal when killed); -1 when it still runs after `limit`.
    int wait(std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (status_ < 0 && std::chrono::steady_clock::now() < end) {
            int ws = 0;
            if (::waitpid(pid_, &ws, WNOHANG) == pid_) {
                status_ = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
            } else {
                std::this_thread::sleep_for(20ms);
            }
        }
        return status_;
    }
    std::string out() const { return testing_support::read_file(out_); }
    std::string err() const { return testing_support::read_file(err_); }

private:
    fs::path out_, err_;
    pid_t pid_ = -1;
    int status_ = -1;
};

// Waits until `file` holds `text`; false after `limit`.
bool wait_for_text(const fs::path& file, const std::string& text, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (testing_support::read_file(file).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

std::vector<Json> json_lines(const std::string& out) {
    std::vector<Json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        Json j = Json::parse(line, nullptr, false);
        if (j.is_object()) lines.push_back(std::move(j));
    }
    return lines;
}

bool received(const tq318::Simulator& sim, const std::string& line) {
    const auto lines = sim.received_lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class TovctlStop : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(temp_ / "work"); }
    tq318::Simulator& add_sim(std::uint32_t transfer_timeout_ms = 1000) {
        tq318::SimulatorOptions o;
        o.disk_a_kib = 4096;
        o.disk_b_kib = 4096;
        o.baud = kPacedBaud;
        // The controller gives up a transfer that went quiet this soon, so
        // that the way back to its prompt after a stop is short.
        o.transfer_timeout_ms = transfer_timeout_ms;
        sims_.push_back(std::make_unique<tq318::Simulator>(o));
        sims_.back()->start();
        return *sims_.back();
    }
    fs::path package() {
        const fs::path dir = temp_ / "members";
        fs::create_directories(dir);
        testing_support::write_file(dir / "tq318.exe", random_bytes(60000, 1));
        testing_support::write_file(dir / "web.bin", random_bytes(60000, 2));
        testing_support::write_file(dir / "cfg.dat", random_bytes(300, 3));
        const fs::path out = temp_ / "p" / "tq318.hex";
        fs::create_directories(out.parent_path());
        EXPECT_EQ(make_package::write_package({dir, out, "", true}), "");
        return out;
    }
    std::unique_ptr<Running> start(const std::vector<std::string>& ports, Args args) {
        Args all;
        for (const auto& p : ports) all.insert(all.end(), {"--port", p});
        all.insert(all.end(), args.begin(), args.end());
        fs::create_directories(temp_ / ("run" + std::to_string(++runs_)));
        auto r = std::make_unique<Running>(all, env(), temp_ / ("run" + std::to_string(runs_)));
        EXPECT_TRUE(r->started());
        return r;
    }
    Args env() const {
        return {"XDG_STATE_HOME=" + (temp_ / "state").string(), "TEMP=" + (temp_ / "work").string(),
                "TMPDIR=" + (temp_ / "work").string()};
    }
    std::vector<Json> records() const {
        const auto r = tovctl_test::run(TOVCTL_PATH, {"--json", "history"}, env());
        EXPECT_EQ(r.status, 0) << r.err;
        return json_lines(r.out);
    }
    bool work_folders_gone() const { return fs::is_empty(temp_ / "work"); }
    std::string work_folder_listing() const {
        std::string names;
        for (const auto& e : fs::recursive_directory_iterator(temp_ / "work")) names += e.path().string() + "\n";
        return names;
    }

    TempDir temp_;
    std::vector<std::unique_ptr<tq318::Simulator>> sims_;
    int runs_ = 0;
};

}  // namespace

// Stops over the real pty, one row each: the signals (the first when the
// controller receives `at`, any later one once the transfer was stopped), what
// the controller was sent after it, whether it is back at its prompt the
// moment tovctl ends, the exit status, one record per port, "Stopping..."
// said once at once and the account of the stop (its next step included)
// printed once. The engine's table holds the rules behind them (no "y" after
// a stop, nothing after a stopped load, no upload after an early stop).
TEST_F(TovctlStop, EveryStopEndsAtItsPromptWithOneRecordAndSaysTheNextStep) {
    struct Case {
        const char* what;
        bool os;
        int ports;
        const char* at;            // the line received when the first signal (or the restart) comes
        std::vector<int> signals;  // empty: the controller restarts and asks for its password
        std::uint32_t transfer_timeout_ms;
        int exit;
        const char* outcome;                // every record's
        std::vector<std::string> after;     // every line received after `at` ("*": not looked at)
        const char* says;                   // in the output once
    };
    const std::vector<Case> cases = {
        {"SIGINT at delb", false, 1, "delb", {SIGINT}, 1000, 130, "abandoned", {"n", ""},
         "disk A was emptied, disk B was not emptied: the repair must be repeated"},
        {"restart at del", false, 1, "del", {}, 1000, 1, "failed", {}, "the controller restarted during the deletes"},
        {"SIGINT during a download", false, 1, "load", {SIGINT}, 1000, 130, "abandoned", {"*"},
         "stopped by SIGINT; the controller answered at its prompt afterwards; 0 member(s) loaded, 1 sent; "
         "both disks are now empty: the repair must be repeated"},
        {"a second SIGINT during the way back", false, 1, "load", {SIGINT, SIGINT}, 4000, 130, "abandoned", {"*"},
         "both disks are now empty: the repair must be repeated"},
        {"SIGTERM during an upload", true, 1, "upload", {SIGTERM}, 1000, 143, "abandoned", {"*"},
         "stopped by SIGTERM; the controller answered at its prompt afterwards"},
        {"SIGTERM to two ports", false, 2, "load", {SIGTERM}, 1000, 143, "abandoned", {"*"}, "Stopped by SIGTERM."},
    };
    const tq318::StoredFile old{"old.bin", {1, 2, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sims_.clear();
        fs::remove_all(temp_ / "state");
        std::vector<std::string> ports;
        for (int i = 0; i < c.ports; ++i) {
            tq318::Simulator& sim = add_sim(c.transfer_timeout_ms);
            sim.put_file('a', old);
            sim.put_file('b', old);
            if (c.signals.empty()) sim.set_password("quorvelstand83");
            ports.push_back(sim.device_path());
        }
        const fs::path trace = temp_ / ("trace" + std::to_string(runs_));
        fs::path file;
        if (c.os) {
            file = temp_ / "os.img";
            testing_support::write_file(file, random_bytes(60000, 7));
        }
        Args args{"--trace", trace.string()};
        if (c.os) {
            args.insert(args.end(), {"repair-os", file.string()});
        } else {
            args.insert(args.end(), {"repair-firmware", package().string(), "--disk", "a"});
        }
        auto run = start(ports, args);
        for (const auto& sim : sims_) ASSERT_TRUE(sim->wait_for_line(c.at, 30s)) << run->err();
        if (c.signals.empty()) sims_[0]->restart();
        for (std::size_t i = 0; i < c.signals.size(); ++i) {
            if (i > 0) {
                ASSERT_TRUE(wait_for_text(trace, "send stopped on request", 30s));
            }
            run->signal(c.signals[i]);
        }
        ASSERT_EQ(run->wait(90s), c.exit) << run->out() << run->err();
        for (const auto& sim : sims_) {
            // Nothing is left waiting for the rest of a file when tovctl has ended.
            if (!c.signals.empty()) {
                EXPECT_TRUE(sim->wait_until_ready(0ms));
            }
            EXPECT_FALSE(received(*sim, "reset"));
            EXPECT_FALSE(received(*sim, "bios1"));
            const auto lines = sim->received_lines();
            const auto at = std::find(lines.begin(), lines.end(), c.at);
            ASSERT_NE(at, lines.end());
            if (c.after != std::vector<std::string>{"*"}) {
                EXPECT_EQ(std::vector<std::string>(at + 1, lines.end()), c.after);
            }
            EXPECT_EQ(std::count(lines.begin(), lines.end(), c.at), 1);
        }
        EXPECT_FALSE(c.os && sims_[0]->image_installed());
        EXPECT_TRUE(work_folders_gone()) << work_folder_listing();
        const std::string said = run->out() + run->err();
        auto count = [&said](const std::string& text) {
            std::size_t n = 0;
            for (auto at = said.find(text); at != std::string::npos; at = said.find(text, at + 1)) ++n;
            return n;
        };
        EXPECT_EQ(count("Stopping..."), c.signals.empty() ? 0u : 1u) << said;
        EXPECT_EQ(count(c.says), 1u) << said;
        EXPECT_EQ(said.find("Upgrade Successed."), std::string::npos) << said;
        const auto recs = records();
        ASSERT_EQ(recs.size(), static_cast<std::size_t>(c.ports)) << said;
        for (const auto& r : recs) EXPECT_EQ(r.value("outcome", ""), c.outcome) << r.dump();
    }
}

// A reader that went away (a closed pipe) does not end the repair unrecorded.
TEST_F(TovctlStop, ClosedOutputPipeDoesNotKillTheRepair) {
    tq318::Simulator& sim = add_sim();
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    ::close(pipe_ends[0]);  // nobody reads: every write fails with EPIPE
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const pid_t pid = tovctl_test::spawn_with(
        TOVCTL_PATH, {"--port", sim.device_path(), "repair-firmware", package().string(), "--disk", "a"}, env(), actions);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_GT(pid, 0);
    ::close(pipe_ends[1]);
    int ws = 0;
    ASSERT_EQ(::waitpid(pid, &ws, 0), pid);
    ASSERT_TRUE(WIFEXITED(ws)) << "ended by signal " << WTERMSIG(ws);
    EXPECT_EQ(WEXITSTATUS(ws), 0);
    EXPECT_TRUE(received(sim, "reset"));
    const auto recs = records();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].value("outcome", ""), "verified");
}
