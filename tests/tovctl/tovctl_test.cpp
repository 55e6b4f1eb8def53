// The built tovctl program end to end: spawned as a child process against the
// simulated controller running in this test process.
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <optional>

#include "pty_peer.h"
#include "spawn.h"
#include "uart.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tovctl_test::Args;
using testing_support::read_file;
using testing_support::TempDir;

// Every scalar of one JSON value by its path ("entries/0/name") and its text
// (strings unescaped, numbers and true/false as written); nothing if `text` is
// not exactly one JSON value.
using Flat = std::map<std::string, std::string>;
std::optional<Flat> flat_json(const std::string& text) {
    const auto j = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (j.is_discarded()) return std::nullopt;
    Flat out;
    const nlohmann::json flat = j.flatten();
    for (const auto& [pointer, value] : flat.items()) {
        out[pointer.substr(1)] = value.is_string() ? value.get<std::string>() : value.dump();
    }
    return out;
}

using tovctl_test::Result;
using tovctl_test::run;

// The --json output parses, and holds these values.
void expect_json(const Result& r, const Flat& want) {
    const auto j = flat_json(r.out);
    ASSERT_TRUE(j) << "not JSON: " << r.out;
    for (const auto& [k, v] : want) EXPECT_EQ(j->count(k) ? j->at(k) : "(none)", v) << k << " in " << r.out;
}

class Tovctl : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_STATE_HOME", state_.path().c_str(), 1);  // records of this test stay in its folder
        sim_.start();
    }
    // tovctl on the simulator's port; waits until the child has let go of it.
    Result tov(Args args) {
        args.insert(args.begin(), {"--port", sim_.device_path()});
        Result r = run(TOVCTL_PATH, args);
        sim_.wait_for_slave(false, 2s);
        return r;
    }
    TempDir state_;
    tq318::Simulator sim_;
};

}  // namespace

TEST_F(Tovctl, SetsAndReadsBackEverySetting) {
    struct Row { Args set, get; Flat want; std::string human; };
    const Row rows[] = {
        {{"ip", "10.20.30.40"}, {"ip"}, {{"ok", "true"}, {"ip", "10.20.30.40"}}, "IP address: 10.20.30.40\n"},
        {{"mask", "255.255.252.0"}, {"mask"}, {{"mask", "255.255.252.0"}}, ""},
        {{"gateway", "10.20.28.1"}, {"gateway"}, {{"gateway", "10.20.28.1"}}, ""},
        {{"com", "3", "19200", "7", "e", "2"}, {"com", "3"},
         {{"baud", "19200"}, {"data_bits", "7"}, {"parity", "1"}, {"stop_bits", "2"}}, "COM 3 set to: 19200,7,e,2\n"},
        {{"disksize", "2048", "2048"}, {"disksize"}, {{"size_a", "2048"}, {"size_b", "2048"}},
         "Disk A size: 2048 KiB\nDisk B size: 2048 KiB\n"},
    };
    for (const Row& row : rows) {
        const Result set = tov(row.set);
        ASSERT_EQ(set.status, 0) << row.set[0] << ": " << set.err;
        Args get{"--json"};
        get.insert(get.end(), row.get.begin(), row.get.end());
        const Result got = tov(get);
        ASSERT_EQ(got.status, 0) << got.err;
        expect_json(got, row.want);
        if (!row.human.empty()) {
            EXPECT_EQ(row.set[0] == "com" ? set.out : tov(row.get).out, row.human);
        }
    }
}

TEST_F(Tovctl, DirAfterLoadListsTheFile) {
    TempDir dir;
    testing_support::write_file(dir / "Payload.BIN", std::string(700, 'x'));
    Result r = tov({"load", (dir / "Payload.BIN").string(), "--disk", "b"});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    ASSERT_EQ(sim_.files('b').size(), 1u);
    EXPECT_EQ(sim_.files('b')[0].name, "payload.bin");
    r = tov({"--json", "dir", "b"});
    ASSERT_EQ(r.status, 0) << r.err;
    expect_json(r, {{"ok", "true"}, {"count", "1"}, {"entries/0/name", "payload.bin"}, {"entries/0/size", "700"}});
    EXPECT_NE(tov({"dir", "b"}).out.find("payload.bin"), std::string::npos);
    expect_json(tov({"--json", "free", "b"}), {{"free", std::to_string(sim_.free_bytes('b'))}});
    ASSERT_EQ(tov({"del-all", "b"}).status, 0);
    EXPECT_TRUE(sim_.files('b').empty());
}

TEST_F(Tovctl, UpdateVersionPromptAndTrace) {
    TempDir dir;
    std::string image;
    for (int i = 0; i < 3000; ++i) image += static_cast<char>(i * 7);
    testing_support::write_file(dir / "tovrane.img", image);
    Result r = tov({"--json", "update-os", (dir / "tovrane.img").string()});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    expect_json(r, {{"ok", "true"}});
    EXPECT_TRUE(sim_.image_installed());
    ASSERT_TRUE(sim_.uploaded_image());
    EXPECT_EQ(sim_.uploaded_image()->size(), 3000u);

    expect_json(tov({"--json", "ver"}),
                {{"version", "123003"}, {"model", "TQ318-5314A"}, {"build_date", "Dec/06/2026"}, {"port_probe_flag", "1"}});
    expect_json(tov({"--json", "prompt"}), {{"ok", "true"}});

    r = tov({"--trace", (dir / "trace.txt").string(), "mask"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string trace = read_file(dir / "trace.txt");
    EXPECT_TRUE(trace.find("mask") != trace.npos && trace.find("MASK=") != trace.npos) << trace;
}

// `ports` lists the COM number of UART_COM<N>; `ports --assign` writes the
// mapping file, which the variable still overrides.
TEST_F(Tovctl, PortsListAndAssignComNumbers) {
    Result r = run(TOVCTL_PATH, {"--json", "ports"}, {"UART_COM12=" + sim_.device_path()});
    ASSERT_EQ(r.status, 0) << r.err;
    auto j = flat_json(r.out);
    ASSERT_TRUE(j) << r.out;
    std::string com = "(not listed)";
    for (const auto& [key, value] : *j)
        if (key.ends_with("/path") && value == sim_.device_path()) com = (*j)[key.substr(0, key.size() - 4) + "com"];
    EXPECT_EQ(com, "12") << r.out;

    TempDir config;
    const std::string xdg = "XDG_CONFIG_HOME=" + config.path().string();
    r = run(TOVCTL_PATH, {"ports", "--assign", "11", "/dev/old-adapter", "--force"}, {xdg});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run(TOVCTL_PATH, {"ports", "--assign", "11", sim_.device_path()}, {xdg});  // replaces the line
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(config / "tq318/ports"), "COM11=" + sim_.device_path() + "\n");

    r = run(TOVCTL_PATH, {"ports"}, {xdg});
    EXPECT_NE(r.out.find("COM11=" + sim_.device_path()), std::string::npos) << r.out;

    // The variable still wins over the file.
    r = run(TOVCTL_PATH, {"--port", "COM11", "ip"}, {xdg, "UART_COM11=/dev/no-such-adapter"});
    EXPECT_EQ(r.status, 3) << r.out;
    // Refused before anything is written.
    EXPECT_EQ(run(TOVCTL_PATH, {"ports", "--assign", "256", "/dev/ttyUSB0"}, {xdg}).status, 2);
    EXPECT_EQ(run(TOVCTL_PATH, {"ports", "--assign", "2", "ttyUSB0"}, {xdg}).status, 2);
    EXPECT_EQ(read_file(config / "tq318/ports"), "COM11=" + sim_.device_path() + "\n");
}

TEST_F(Tovctl, BadArgumentsAreUsageErrorsWithNothingSent) {
    const std::vector<Args> bad{
        {"ip", "300.1.1.1"}, {"ip", "1.2.3"}, {"mask", "a.b.c.d"}, {"com"}, {"com", "0"},
        {"com", "2", "9600", "9", "n", "1"}, {"com", "2", "9600", "8", "x", "1"}, {"com", "2", "9600"},
        {"disksize", "5"}, {"disksize", "-1", "2"}, {"dir", "c"}, {"free", "ab"}, {"del-all"}, {"ver", "x"},
        {"load", "/nonexistent/file"}, {"load"}, {"update-os", "/nonexistent/image"}, {"prompt", "--timeout", "0"},
        {"frobnicate"}};
    // One line of what is wrong, then where the help of the subcommand that
    // was meant is; an unknown one is named.
    sim_.clear_received_lines();
    for (const auto& args : bad) {
        const Result r = tov(args);
        const std::string see = args[0] == "frobnicate" ? "see 'tovctl --help'\n" : "see 'tovctl " + args[0] + " --help'\n";
        EXPECT_TRUE(r.status == 2 && r.err.ends_with(see) && std::count(r.err.begin(), r.err.end(), '\n') == 2)
            << args[0] << ": " << r.err;
        if (args[0] == "frobnicate") {
            EXPECT_NE(r.err.find("unknown subcommand frobnicate"), r.err.npos) << r.err;
        }
    }
    EXPECT_TRUE(sim_.received_lines().empty());
    EXPECT_EQ(run(TOVCTL_PATH, {"ip"}).status, 2);  // no --port
}

// A trace that cannot be written: --trace is a usage error with nothing sent;
// UART_TRACE is reported once and the command still runs.
TEST_F(Tovctl, UnwritableTraceIsNeverSilent) {
    const std::string nowhere = "/nonexistent-dir/trace.txt";
    sim_.clear_received_lines();
    Result r = tov({"--trace", nowhere, "mask"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("see 'tovctl mask --help'"), r.err.npos) << r.err;
    EXPECT_TRUE(sim_.received_lines().empty());
    r = run(TOVCTL_PATH, {"--port", sim_.device_path(), "mask"}, {"UART_TRACE=" + nowhere});
    sim_.wait_for_slave(false, 2s);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string report = "UART_TRACE=" + nowhere;
    const auto at = r.err.find(report);
    EXPECT_NE(at, r.err.npos) << r.err;
    EXPECT_EQ(r.err.find(report, at + 1), r.err.npos) << r.err;
}

TEST_F(Tovctl, DeviceFailureReportsCodeAndText) {
    sim_.set_model("TQ318-9000X");
    Result r = tov({"ip"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.find("code 55") != r.err.npos && r.err.find("Code:55") != r.err.npos) << r.err;
    // The library's placeholder for "no command" is not shown to a person.
    EXPECT_EQ(r.err.find("(null)"), r.err.npos) << r.err;
    EXPECT_NE(r.err.find("no command"), r.err.npos) << r.err;
    EXPECT_TRUE(r.out.empty());
    r = tov({"--json", "mask"});
    EXPECT_EQ(r.status, 1);
    expect_json(r, {{"ok", "false"}, {"code", "55"}});
}

// A port that cannot be opened: exit 3 and why, named as it was given (a
// device path is opened under a COM number lent for the run, not shown).
TEST_F(Tovctl, PortThatCannotBeOpenedSaysWhy) {
    TempDir dir;
    testing_support::write_file(dir / "plain-file", "");
    fs::create_directories(dir / "fifo/tq318");
    fs::create_directories(dir / "folder/tq318/ports");
    ASSERT_EQ(::mkfifo((dir / "fifo/tq318/ports").c_str(), 0600), 0);
    struct Case { Args args, env; std::string said, not_said; };  // not_said: "" for nothing
    const Case cases[] = {
        {{"--port", sim_.device_path(), "ip"}, {}, "in use", ""},  // COM 7 holds it
        {{"--port", "/dev/ttyNOSUCH0", "ip"}, {}, "no such device", ""},
        {{"--port", "/dev/nonexistent-tty", "ver"}, {}, "cannot open /dev/nonexistent-tty: ", "COM "},
        {{"--port", "7", "ver"}, {"UART_COM7="}, "(COM 7, UART_COM7 is set but empty)", ""},
        {{"--port", "6", "ip"}, {"UART_COM6=" + (dir / "plain-file").string()}, "not a serial device", "refused the line settings"},
        {{"--port", "6", "ip"}, {"UART_COM6=/dev/null"}, "not a serial device", "refused the line settings"},
        {{"--port", "1", "ip"}, {"XDG_CONFIG_HOME=" + (dir / "fifo").string()}, "cannot be read", "ttyS0"},
        {{"--port", "1", "ip"}, {"XDG_CONFIG_HOME=" + (dir / "folder").string()}, "cannot be read", "ttyS0"},
    };
    ::unsetenv("UART_COM1");
    testing_support::ComMapping held(7, sim_.device_path());
    ASSERT_EQ(Open_Com(7, 115200, 8, 0, 0), 0);
    for (const Case& c : cases) {
        const Result r = run(TOVCTL_PATH, c.args, c.env);
        EXPECT_EQ(r.status, 3) << c.said << ": " << r.err;
        EXPECT_NE(r.err.find(c.said), r.err.npos) << r.err;
        if (!c.not_said.empty()) {
            EXPECT_EQ(r.err.find(c.not_said), r.err.npos) << r.err;
        }
    }
    Close_Com(7);
}

TEST_F(Tovctl, PermissionDeniedSaysHowToFixIt) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
    // The pty belongs to root (mode 0620): the user nobody may not open it.
    const Result r = run("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", TOVCTL_PATH,
                                              "--port", sim_.device_path(), "ip"});
    EXPECT_EQ(r.status, 3) << r.err;
    for (const char* text : {"permission denied", "sudo usermod -aG dialout $USER", "log out and in again"})
        EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
}
