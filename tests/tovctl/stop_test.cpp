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

// Stopped, or the controller restarted, while the disks are emptied: no "y"
// is typed after it, nothing after the line under way but the "n" that
// answers an open question (and the probe after a stop), and the record says
// which disk was emptied.
TEST_F(TovctlStop, TheDeletesEndAtTheLineUnderWayAndSayWhichDiskWasEmptied) {
    struct Case {
        const char* what;
        const char* at;  // the line received when the stop or the restart comes
        int signal;      // 0: the controller restarts and asks for its password
        int exit;
        std::vector<std::string> after;  // every line received after `at`
        bool keptA, keptB;
        const char* text;  // in the record's messages
    };
    const std::vector<Case> cases = {
        {"SIGHUP at del", "del", SIGHUP, 129, {"n", ""}, true, true, "No disk was emptied."},
        {"SIGINT at delb", "delb", SIGINT, 130, {"n", ""}, false, true, "Disk A was emptied, disk B was not emptied."},
        {"restart at del", "del", 0, 1, {}, true, true, "the controller restarted during the deletes"},
    };
    const tq318::StoredFile old{"old.bin", {1, 2, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tq318::Simulator& sim = add_sim();
        sim.put_file('a', old);
        sim.put_file('b', old);
        if (c.signal == 0) sim.set_password("quorvelstand83");
        auto run = start({sim.device_path()}, {"repair-firmware", package().string(), "--disk", "a"});
        ASSERT_TRUE(sim.wait_for_line(c.at, 20s));
        if (c.signal != 0) {
            run->signal(c.signal);
        } else {
            sim.restart();
        }
        ASSERT_EQ(run->wait(60s), c.exit) << run->out() << run->err();
        auto lines = sim.received_lines();
        const auto at = std::find(lines.begin(), lines.end(), c.at);
        ASSERT_NE(at, lines.end());
        EXPECT_EQ(std::vector<std::string>(at + 1, lines.end()), c.after);
        EXPECT_EQ(sim.files('a') == std::vector<tq318::StoredFile>{old}, c.keptA);
        EXPECT_EQ(sim.files('b') == std::vector<tq318::StoredFile>{old}, c.keptB);
        EXPECT_TRUE(work_folders_gone()) << work_folder_listing();
        const auto recs = records();
        ASSERT_FALSE(recs.empty());
        EXPECT_EQ(recs[0].value("outcome", ""), c.signal != 0 ? "abandoned" : "failed");
        EXPECT_NE(recs[0]["messages"].dump().find(c.text), std::string::npos) << recs[0].dump();
    }
}

// Ctrl-C during a paced download: the next block is not sent, the controller
// is brought back to its prompt, no "dir" and no "reset" follow, exit 130.
TEST_F(TovctlStop, InterruptDuringADownloadStopsBeforeTheNextBlock) {
    tq318::Simulator& sim = add_sim();
    auto run = start({sim.device_path()}, {"--json", "repair-firmware", package().string(), "--disk", "a"});
    ASSERT_TRUE(sim.wait_for_line("load", 30s)) << run->err();
    run->signal(SIGINT);
    ASSERT_EQ(run->wait(60s), 130) << run->out() << run->err();
    const auto lines_sent = sim.received_lines();
    EXPECT_EQ(std::count(lines_sent.begin(), lines_sent.end(), "dir"), 1);  // the free-space probe only
    EXPECT_EQ(std::count(lines_sent.begin(), lines_sent.end(), "load"), 1);
    EXPECT_FALSE(received(sim, "reset"));
    EXPECT_TRUE(sim.wait_until_ready(5s));
    EXPECT_TRUE(sim.files('a').empty());  // the member cut short was not stored
    EXPECT_TRUE(work_folders_gone()) << work_folder_listing();
    EXPECT_NE(run->err().find("the controller answered at its prompt afterwards"), std::string::npos) << run->err();

    const auto lines = json_lines(run->out());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().value("result", ""), "abandoned");
    EXPECT_EQ(lines.back().value("exit", 0), 130);
    EXPECT_FALSE(lines.back().value("ok", true));
    const auto recs = records();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].value("outcome", ""), "abandoned");
    // What was done: one member sent and not loaded, none after it.
    int sent = 0;
    for (const auto& m : recs[0]["members"]) sent += m.value("sent", false) ? 1 : 0;
    EXPECT_EQ(sent, 1) << recs[0].dump();
}

// SIGTERM during an operating-system upload: the image is not installed
// ("bios1" is never sent), no "reset" follows, the controller is at its
// prompt and the record says "abandoned".
TEST_F(TovctlStop, TerminateDuringAnUploadInstallsNothing) {
    tq318::Simulator& sim = add_sim();
    const fs::path image = temp_ / "os.img";
    testing_support::write_file(image, random_bytes(60000, 7));
    auto run = start({sim.device_path()}, {"repair-os", image.string()});
    ASSERT_TRUE(sim.wait_for_line("upload", 30s)) << run->err();
    run->signal(SIGTERM);
    ASSERT_EQ(run->wait(60s), 143) << run->out() << run->err();
    EXPECT_FALSE(received(sim, "bios1"));
    EXPECT_FALSE(received(sim, "reset"));
    EXPECT_FALSE(sim.image_installed());
    EXPECT_TRUE(sim.wait_until_ready(5s));
    EXPECT_EQ(run->out().find("Upgrade Successed."), std::string::npos) << run->out();
    const auto recs = records();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].value("outcome", ""), "abandoned");
}

// A second Ctrl-C while the first one's way back to the prompt is under way
// ends the program at once: the controller is still waiting for its file
// when the program has ended, and the work folder is gone all the same.
TEST_F(TovctlStop, SecondInterruptEndsAtOnce) {
    tq318::Simulator& sim = add_sim(60000);
    const fs::path trace = temp_ / "line.trace";
    auto run = start({sim.device_path()}, {"--trace", trace.string(), "repair-firmware", package().string(),
                                           "--disk", "a"});
    ASSERT_TRUE(sim.wait_for_line("load", 30s)) << run->err();
    run->signal(SIGINT);
    ASSERT_TRUE(wait_for_text(trace, "send stopped on request", 30s));
    run->signal(SIGINT);
    ASSERT_EQ(run->wait(30s), 130) << run->out() << run->err();
    EXPECT_FALSE(sim.wait_until_ready(0ms));  // nobody waited for the controller
    EXPECT_FALSE(received(sim, "reset"));
    EXPECT_TRUE(work_folders_gone()) << work_folder_listing();
}

// SIGTERM to a repair of two controllers: each child stops its download,
// brings its controller back and writes its record; the parent waits for
// them, writes its summary and exits 143.
TEST_F(TovctlStop, TerminateStopsEveryPortOfAMultiPortRepair) {
    tq318::Simulator& one = add_sim();
    tq318::Simulator& two = add_sim();
    auto run = start({one.device_path(), two.device_path()},
                     {"--json", "repair-firmware", package().string(), "--disk", "a"});
    ASSERT_TRUE(one.wait_for_line("load", 30s)) << run->err();
    ASSERT_TRUE(two.wait_for_line("load", 30s)) << run->err();
    run->signal(SIGTERM);
    ASSERT_EQ(run->wait(90s), 143) << run->out() << run->err();
    for (tq318::Simulator* sim : {&one, &two}) {
        const auto lines_sent = sim->received_lines();
        EXPECT_FALSE(received(*sim, "reset"));
        EXPECT_EQ(std::count(lines_sent.begin(), lines_sent.end(), "dir"), 1);  // the free-space probe only
        EXPECT_TRUE(sim->wait_until_ready(5s));
    }
    EXPECT_TRUE(work_folders_gone()) << work_folder_listing();
    const auto lines = json_lines(run->out());
    ASSERT_FALSE(lines.empty());
    const Json& summary = lines.back();
    EXPECT_EQ(summary.value("event", ""), "summary");
    EXPECT_EQ(summary.value("exit", 0), 143);
    EXPECT_EQ(summary.value("stopped_by", ""), "SIGTERM");
    ASSERT_EQ(summary["ports"].size(), 2u);
    for (const auto& p : summary["ports"]) EXPECT_EQ(p.value("result", ""), "abandoned") << p.dump();
    const auto recs = records();
    ASSERT_EQ(recs.size(), 2u);
    for (const auto& r : recs) EXPECT_EQ(r.value("outcome", ""), "abandoned");
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
