// Stopping repairs with signals: the built tovctl against simulated
// controllers on real ptys, each signal sent at a point the test sees (a line
// the controller received, a note in the line's transcript).
#include <algorithm>

#include "spawn.h"

namespace {

using namespace tovctl_test;

// Waits until `file` holds `text`; false after `limit`.
bool wait_for_text(const fs::path& file, const std::string& text, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (testing_support::read_file(file).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

class TovctlStop : public Bench {
protected:
    // Paced at about 11 KiB/s, so that a 60 KiB member takes seconds; the
    // controller gives up a transfer that went quiet after
    // `transfer_timeout_ms`, so that the way back to its prompt is short.
    tq318::Simulator& paced_sim(std::uint32_t transfer_timeout_ms = 1000) {
        return add_sim([&](auto& o) { o.baud = 115200, o.transfer_timeout_ms = transfer_timeout_ms; });
    }
    fs::path big_package() {
        return package({{"tq318.exe", random_bytes(60000, 1)}, {"web.bin", random_bytes(60000, 2)},
                        {"cfg.dat", random_bytes(300, 3)}});
    }
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
        {"SIGINT at delb", 1, "delb", {SIGINT}, 1000, 130, "abandoned", {"n", ""},
         "disk A was emptied, disk B was not emptied: the repair must be repeated"},
        {"restart at del", 1, "del", {}, 1000, 1, "failed", {}, "the controller restarted during the deletes"},
        {"SIGINT during a download", 1, "load", {SIGINT}, 1000, 130, "abandoned", {"*"},
         "stopped by SIGINT; the controller answered at its prompt afterwards; 0 member(s) loaded, 1 sent; "
         "both disks are now empty: the repair must be repeated"},
        {"a second SIGINT during the way back", 1, "load", {SIGINT, SIGINT}, 4000, 130, "abandoned", {"*"},
         "both disks are now empty: the repair must be repeated"},
        {"SIGTERM during an upload", 1, "upload", {SIGTERM}, 1000, 143, "abandoned", {"*"},
         "stopped by SIGTERM; the controller answered at its prompt afterwards"},
        {"SIGTERM to two ports", 2, "load", {SIGTERM}, 1000, 143, "abandoned", {"*"}, "Stopped by SIGTERM."},
    };
    const tq318::StoredFile old{"old.bin", {1, 2, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sims_.clear();
        fs::remove_all(temp_ / "state");
        Args ports;
        for (int i = 0; i < c.ports; ++i) {
            tq318::Simulator& sim = paced_sim(c.transfer_timeout_ms);
            sim.put_file('a', old);
            sim.put_file('b', old);
            if (c.signals.empty()) sim.set_password("quorvelstand83");
            ports.push_back(sim.device_path());
        }
        const fs::path trace = temp_ / c.what, image = temp_ / "os.img";
        testing_support::write_file(image, random_bytes(60000, 7));
        const bool os = c.at == std::string("upload");
        Args args{"--trace", trace.string(), "repair-os", image.string()};
        if (!os) args = {"--trace", trace.string(), "repair-firmware", big_package().string(), "--disk", "a"};
        Child run(TOVCTL_PATH, with_ports(ports, args), env());
        for (const auto& sim : sims_) ASSERT_TRUE(sim->wait_for_line(c.at, 30s)) << run.finish(0s).err;
        if (c.signals.empty()) sims_[0]->restart();
        for (std::size_t i = 0; i < c.signals.size(); ++i) {
            if (i > 0) {
                ASSERT_TRUE(wait_for_text(trace, "send stopped on request", 30s));
            }
            run.signal(c.signals[i]);
        }
        const Result r = run.finish(90s);
        const std::string said = r.out + r.err;
        ASSERT_EQ(r.status, c.exit) << said;
        for (const auto& sim : sims_) {
            // Nothing is left waiting for the rest of a file when tovctl has ended.
            if (!c.signals.empty()) {
                EXPECT_TRUE(sim->wait_until_ready(0ms));
            }
            const auto lines = sim->received_lines();
            EXPECT_EQ(std::count(lines.begin(), lines.end(), "reset") + std::count(lines.begin(), lines.end(), "bios1"), 0);
            const auto at = std::find(lines.begin(), lines.end(), c.at);
            ASSERT_NE(at, lines.end());
            if (c.after != std::vector<std::string>{"*"}) {
                EXPECT_EQ(std::vector<std::string>(at + 1, lines.end()), c.after);
            }
            EXPECT_EQ(std::count(lines.begin(), lines.end(), c.at), 1);
        }
        EXPECT_FALSE(os && sims_[0]->image_installed());
        EXPECT_TRUE(fs::is_empty(temp_ / "work"));
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
    Child run(TOVCTL_PATH, {"--port", sim.device_path(), "repair-firmware", big_package().string(), "--disk", "a"},
              env(), pipe_ends[1]);
    ::close(pipe_ends[1]);
    EXPECT_EQ(run.finish().status, 0) << "128 + the signal that ended it";
    const auto lines = sim.received_lines();
    EXPECT_TRUE(!lines.empty() && lines.back() == "reset");
    const auto recs = records();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].value("outcome", ""), "verified");
}
