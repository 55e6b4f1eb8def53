// tovctl facing files it did not write: records, mapping files and devices
// planted or damaged by someone else.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "spawn.h"
#include "temp_dir.h"
#include "tq318/simulator.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;
using tovctl_test::run;

const std::string kRecordHead = R"({"started":"2026-12-07T12:00:00.000Z","ended":"2026-12-07T12:01:00.000Z",)"
                                R"("frontEnd":"tovctl","kind":"firmware","port":3,"members":[],)";

class HostileFiles : public ::testing::Test {
protected:
    fs::path records() {
        const fs::path p = state_.path() / "tq318" / "repairs";
        fs::create_directories(p);
        return p;
    }
    std::string state_env() const { return "XDG_STATE_HOME=" + state_.path().string(); }
    std::string config_env() const { return "XDG_CONFIG_HOME=" + config_.path().string(); }
    fs::path mapping() {
        fs::create_directories(config_.path() / "tq318");
        return config_.path() / "tq318" / "ports";
    }
    TempDir state_, config_;
};

// What a planted record can make `history` print: no character a terminal acts
// on (C1 controls, bytes that are not UTF-8, bidirectional controls), no
// outcome a repair never writes; and each port shown by its device.
TEST_F(HostileFiles, HistoryShowsOnlyWhatARepairCouldHaveWritten) {
    struct Case {
        std::string fields, shown, hidden;
    };
    const std::vector<Case> cases{
        {R"("path":"/bench/\u001b]0;owned\u0007evil.hex","outcome":"failed")", "\\x1b]0;owned\\x07evil.hex", "\x1b"},
        {R"("path":"/bench/\u001b]0;owned\u0007evil.hex","outcome":"failed")", "\\x1b]0;owned\\x07evil.hex", "\x07"},
        {R"("path":"/bench/\u009b2Jcsi.hex","outcome":"failed")", "\\u009b2Jcsi.hex", "\xc2\x9b"},
        {R"("path":"/bench/\u009d0;owned\u009cosc.hex","outcome":"failed")", "\\u009d0;owned\\u009cosc.hex", "\xc2\x9d"},
        {R"("path":"/bench/\u202egnp.hex","outcome":"failed")", "\\u202egnp.hex", "\xe2\x80\xae"},
        {R"("path":"/bench/ok.hex","outcome":"verified by the vendor")", "(unknown outcome)", "by the vendor"},
        {R"("path":"/bench/ok.hex","outcome":"failed","device":"/dev/ttyUSB7")", "COM3 /dev/ttyUSB7", "COM3  "},
    };
    for (const Case& c : cases) {
        fs::remove_all(records());
        write_file(records() / "20261207T120000.000Z-1-0.json", kRecordHead + c.fields + "}");
        const auto r = run(TOVCTL_PATH, {"history"}, {state_env()});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(c.shown), std::string::npos) << c.fields << ": " << r.out;
        EXPECT_EQ(r.out.find(c.hidden), std::string::npos) << c.fields << ": " << r.out;
    }
    // The JSON form keeps control bytes escaped too.
    write_file(records() / "20261207T120000.000Z-1-0.json", kRecordHead + R"("outcome":"failed","path":"/bench/\u001b]0;owned\u0007evil.hex"})");
    const auto r = run(TOVCTL_PATH, {"--json", "history"}, {state_env()});
    EXPECT_NE(r.out.find("\\u001b]0;owned\\u0007evil.hex"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
}

TEST_F(HostileFiles, ControlBytesFromTheMappingFileAreShownEscaped) {
    write_file(mapping(), "COM7=/dev/\x1b[2Jgone\nCOM8=/dev/\x9b" "2Jcsi\n");
    const auto r = run(TOVCTL_PATH, {"ports"}, {config_env()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("COM7=/dev/\\x1b[2Jgone"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("COM8=/dev/\\x9b2Jcsi"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(r.out.find('\x9b'), std::string::npos);
}

TEST_F(HostileFiles, AssignRefusesWhatIsNoTerminalUnlessForced) {
    const fs::path plain = state_.path() / "plain-file";
    write_file(plain, "not a device");
    auto r = run(TOVCTL_PATH, {"ports", "--assign", "4", "/dev/tty\x1b[31m"}, {config_env()});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("control character"), std::string::npos) << r.err;
    for (const std::string& device : {plain.string(), std::string("/dev/null"), std::string("/dev/no-such-adapter"),
                                     state_.path().string()}) {
        r = run(TOVCTL_PATH, {"ports", "--assign", "4", device}, {config_env()});
        EXPECT_EQ(r.status, 1) << device << ": " << r.err;
        EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(mapping())) << device;
    }
    r = run(TOVCTL_PATH, {"ports", "--assign", "4", "/dev/no-such-adapter", "--force"}, {config_env()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(mapping()), "COM4=/dev/no-such-adapter\n");

    tq318::Simulator sim;
    sim.start();
    r = run(TOVCTL_PATH, {"ports", "--assign", "5", sim.device_path()}, {config_env()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
}

// A mapping file over 64 KiB: the COM port its first 64 KiB name is reached;
// assigning does not rewrite it (that would drop what lies past the limit).
TEST_F(HostileFiles, OversizeMappingFileIsReadToItsLimitAndNotRewritten) {
    ::unsetenv("UART_COM5");
    tq318::Simulator sim;
    sim.start();
    const std::string text = "COM5=" + sim.device_path() + "\n" + std::string(70 * 1024, '#') + "\n";
    write_file(mapping(), text);
    auto r = run(TOVCTL_PATH, {"--port", "5", "ip"}, {config_env()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "IP address: 192.168.1.1\n");
    r = run(TOVCTL_PATH, {"ports", "--assign", "6", "/dev/no-such-adapter", "--force"}, {config_env()});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("over 64 KiB"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(mapping()), text);
}

}  // namespace

namespace {

// A USB adapter as a fake device tree shows it, for the simulator's terminal.
TEST(AdapterFacts, PortsShowsTheDriverTheLatencyTimerAndAHint) {
    tq318::Simulator sim;
    sim.start();
    TempDir tree;
    const std::string name = fs::canonical(sim.device_path()).filename().string();
    fs::create_directories(tree.path() / "bus/usb-serial/drivers/ftdi_sio");
    fs::create_directories(tree.path() / "class/tty" / name / "device");
    fs::create_symlink("../../../../bus/usb-serial/drivers/ftdi_sio", tree.path() / "class/tty" / name / "device/driver");
    fs::create_directories(tree.path() / "bus/usb-serial/devices" / name);
    write_file(tree.path() / "bus/usb-serial/devices" / name / "latency_timer", "16\n");
    const tovctl_test::Args env{"UART_COM12=" + sim.device_path(), "TQ318_SYSFS_ROOT=" + tree.path().string()};

    auto r = run(TOVCTL_PATH, {"ports"}, env);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("driver \"ftdi_sio\"  USB latency timer 16 ms"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("60-tq318-ftdi-latency.rules"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("echo 1 > /sys/bus/usb-serial/devices/" + name + "/latency_timer"), std::string::npos)
        << r.out;
    r = run(TOVCTL_PATH, {"--json", "ports"}, env);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"driver\":\"ftdi_sio\",\"latency_timer_ms\":16,\"hint\":\""), std::string::npos) << r.out;

    // At 1 ms there is nothing to lower.
    write_file(tree.path() / "bus/usb-serial/devices" / name / "latency_timer", "1\n");
    r = run(TOVCTL_PATH, {"ports"}, env);
    EXPECT_NE(r.out.find("USB latency timer 1 ms"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("hint:"), std::string::npos) << r.out;
}

}  // namespace
