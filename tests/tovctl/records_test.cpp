// Records the technician can trust: a slow line is no failure, a refused run
// leaves its record like any other, and `history` shows the package's whole
// path and how far the run came.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sstream>

#include "package_writer.h"
#include "spawn.h"
#include "temp_dir.h"
#include "tq318/simulator.h"

namespace {

namespace fs = std::filesystem;
using tovctl_test::Args;
using Json = nlohmann::json;

class TovctlRecords : public ::testing::Test {
protected:
    Args env() const { return {"XDG_STATE_HOME=" + (temp_ / "state").string()}; }
    tovctl_test::Result tovctl(const Args& args) const { return tovctl_test::run(TOVCTL_PATH, args, env()); }
    // Three members, one of them two blocks long: the prompt after it is the
    // library's shortest wait for a stored file.
    fs::path package() const {
        const fs::path dir = temp_ / "members";
        fs::create_directories(dir);
        testing_support::write_file(dir / "tq318.exe", std::string(30000, 'p'));
        testing_support::write_file(dir / "cfg.dat", std::string(300, 'c'));
        testing_support::write_file(dir / "web.bin", std::string(20000, 'w'));
        const fs::path out = temp_ / "p" / "tq318.hex";
        fs::create_directories(out.parent_path());
        EXPECT_EQ(make_package::write_package({dir, out, "", true}), "");
        return out;
    }
    std::vector<Json> records() const {
        const auto r = tovctl({"--json", "history"});
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<Json> out;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);) out.push_back(Json::parse(line, nullptr, false));
        return out;
    }
    testing_support::TempDir temp_;
};

}  // namespace

// A controller that answers every line a second late: every wait after the
// first answer is sized by it, the repair is verified, and `history` shows
// the whole path and every member loaded.
TEST_F(TovctlRecords, ASecondLateLineIsVerifiedAndHistoryShowsItsProgress) {
    tq318::SimulatorOptions o;
    o.disk_b_kib = 4096;
    tq318::Simulator sim(o);
    sim.start();
    tq318::Faults f;
    f.reply_delay_ms = 1000;
    sim.set_faults(f);
    const fs::path file = package();
    const auto r = tovctl({"--port", sim.device_path(), "repair-firmware", file.string(), "--disk", "b"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(sim.files('b').size(), 3u);
    const auto line = tovctl({"history"}).out;
    EXPECT_NE(line.find(file.string() + "  verified  3/3 members loaded"), std::string::npos) << line;
}

// A package refused, a port not opened: one record each, the device untouched,
// the reason kept and shown by `history`.
TEST_F(TovctlRecords, RefusedRunsLeaveARecord) {
    struct Case {
        const char* what;
        bool bad_package;
        const char* port;
        int exit;
        const char* refusal;
    };
    tq318::Simulator sim;
    sim.start();
    const fs::path bad = temp_ / "bad.hex";
    testing_support::write_file(bad, "not a cabinet");
    const std::vector<Case> cases = {
        {"package refused", true, "", 4, "not a cabinet"},
        {"port refused", false, "/dev/null", 3, "the port /dev/null could not be opened"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(temp_ / "state");
        const fs::path file = c.bad_package ? bad : package();
        const std::string port = *c.port ? c.port : sim.device_path();
        EXPECT_EQ(tovctl({"--port", port, "repair-firmware", file.string(), "--disk", "a"}).status, c.exit);
        const auto recs = records();
        ASSERT_EQ(recs.size(), 1u);
        EXPECT_FALSE(recs[0].value("deviceTouched", true));
        EXPECT_EQ(recs[0].value("outcome", ""), "failed");
        EXPECT_NE(recs[0].value("refusal", "").find(c.refusal), std::string::npos) << recs[0].dump();
        const auto line = tovctl({"history"}).out;
        EXPECT_NE(line.find(file.string() + "  failed  refused before the device was touched: " + c.refusal),
                  std::string::npos)
            << line;
    }
    EXPECT_TRUE(sim.received_lines().empty());
}
