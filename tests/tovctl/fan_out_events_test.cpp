// A several-port repair shows each child's events as a single-port run
// shows them: the same lines, each under its port's name.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "package_writer.h"
#include "spawn.h"
#include "temp_dir.h"
#include "tq318/simulator.h"

namespace {

namespace fs = std::filesystem;
using tovctl_test::Args;

// The lines of `out` that begin with `prefix`, without it; every line when it is empty.
std::vector<std::string> lines_of(const std::string& out, const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(prefix)) lines.push_back(line.substr(prefix.size()));
    return lines;
}

struct Case {
    const char* name;
    Args command;  // the file's place is filled in
};

class FanOutEvents : public ::testing::TestWithParam<Case> {};

TEST_P(FanOutEvents, EachPortShowsWhatItsRunAloneShows) {
    testing_support::TempDir temp;
    fs::create_directories(temp / "members");
    testing_support::write_file(temp / "members" / "tq318.exe", std::string(3000, 'x'));
    testing_support::write_file(temp / "members" / "web.bin", std::string(700, 'w'));
    ASSERT_EQ(make_package::write_package({temp / "members", temp / "tq318.hex", "", true}), "");
    testing_support::write_file(temp / "os.img", std::string(9000, 'o'));

    std::vector<std::unique_ptr<tq318::Simulator>> sims;
    Args ports;
    for (int i = 0; i < 2; ++i) {
        sims.push_back(std::make_unique<tq318::Simulator>(tq318::SimulatorOptions{}));
        sims.back()->start();
        ports.insert(ports.end(), {"--port", sims.back()->device_path()});
    }
    Args command = GetParam().command;
    command[1] = (temp / command[1]).string();
    const Args env{"XDG_STATE_HOME=" + (temp / "state").string(), "TEMP=" + temp.path().string()};
    Args one{ports[0], ports[1]};
    one.insert(one.end(), command.begin(), command.end());
    Args both = ports;
    both.insert(both.end(), command.begin(), command.end());

    const auto alone = tovctl_test::run(TOVCTL_PATH, one, env);
    ASSERT_EQ(alone.status, 0) << alone.out << alone.err;
    const auto single = lines_of(alone.out, "");
    // Its downloads shown: what a live line is drawn from.
    EXPECT_EQ(lines_of(alone.out, "Loading 1 of ").size(), 1u) << alone.out;
    const auto many = tovctl_test::run(TOVCTL_PATH, both, env);
    ASSERT_EQ(many.status, 0) << many.out << many.err;
    for (int i = 0; i < 2; ++i) EXPECT_EQ(lines_of(many.out, ports[2 * i + 1] + ": "), single) << many.out;
}

INSTANTIATE_TEST_SUITE_P(Repairs, FanOutEvents,
                         ::testing::Values(Case{"firmware", {"repair-firmware", "tq318.hex", "--disk", "a"}},
                                           Case{"os", {"repair-os", "os.img"}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
