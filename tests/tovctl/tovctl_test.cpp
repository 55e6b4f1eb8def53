// The built tovctl program end to end: spawned as a child process against the
// simulated controller running in this test process.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mini_json.h"
#include "tq318/simulator.h"
#include "uart.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class TempDir {
public:
    TempDir() {
        std::string templ = (fs::temp_directory_path() / "tovctl-test-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp");
        path_ = templ;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Runs `program` with `args`; `env` entries ("NAME=value") are added to this
// process's environment for the child only.
Result run_program(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& env = {}) {
    TempDir dir;
    const fs::path out = dir.path() / "out", err = dir.path() / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all_args{program};
    all_args.insert(all_args.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all_args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_strings(env);
    for (char** e = environ; *e != nullptr; ++e) env_strings.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env_strings) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    Result r;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return r;
    }
    posix_spawn_file_actions_destroy(&actions);
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

Result run_tovctl(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    return run_program(TOVCTL_PATH, args, env);
}

mini_json::Value json_of(const Result& r) {
    const auto v = mini_json::parse(r.out);
    if (!v) ADD_FAILURE() << "not JSON: " << r.out;
    return v.value_or(mini_json::Value{nullptr});
}

class Tovctl : public ::testing::Test {
protected:
    void SetUp() override { sim_.start(); }

    // Runs tovctl on the simulator's device path, then waits until the child
    // has let go of the port so the next run can open it.
    Result tov(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", sim_.device_path()});
        Result r = run_tovctl(args);
        sim_.wait_for_slave(false, 2s);
        return r;
    }

    tq318::Simulator sim_;
};

}  // namespace

TEST_F(Tovctl, SetsAndReadsBackEveryNetworkSetting) {
    const std::vector<std::pair<std::string, std::string>> settings{
        {"ip", "10.20.30.40"}, {"mask", "255.255.252.0"}, {"gateway", "10.20.28.1"}};
    for (const auto& [cmd, value] : settings) {
        const Result set = tov({cmd, value});
        ASSERT_EQ(set.status, 0) << cmd << ": " << set.err;
        const Result get = tov({"--json", cmd});
        ASSERT_EQ(get.status, 0) << get.err;
        const auto j = json_of(get);
        EXPECT_TRUE(j["ok"].boolean());
        EXPECT_EQ(j[cmd].str(), value);
    }
    EXPECT_EQ(sim_.ip(), "10.20.30.40");
    EXPECT_EQ(sim_.mask(), "255.255.252.0");
    EXPECT_EQ(sim_.gateway(), "10.20.28.1");
    const Result human = tov({"ip"});
    EXPECT_EQ(human.out, "IP address: 10.20.30.40\n");
}

TEST_F(Tovctl, SetsAndReadsBackComAndDiskSizes) {
    Result r = tov({"com", "3", "19200", "7", "e", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "COM 3 set to: 19200,7,e,2\n");
    EXPECT_EQ(sim_.com(3), (tq318::ComSetting{19200, 7, 1, 2}));
    r = tov({"--json", "com", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto j = json_of(r);
    EXPECT_EQ(j["baud"].num(), 19200);
    EXPECT_EQ(j["data_bits"].num(), 7);
    EXPECT_EQ(j["parity"].num(), 1);
    EXPECT_EQ(j["stop_bits"].num(), 2);

    r = tov({"--json", "disksize", "2048", "2048"});
    ASSERT_EQ(r.status, 0) << r.err;
    j = json_of(r);
    EXPECT_EQ(j["size_a"].num(), 2048);
    EXPECT_EQ(j["size_b"].num(), 2048);
    EXPECT_EQ(sim_.disk_kib('b'), 2048u);
    r = tov({"disksize"});
    EXPECT_EQ(r.out, "Disk A size: 2048\nDisk B size: 2048\n");
}

TEST_F(Tovctl, DirAfterLoadListsTheFile) {
    TempDir dir;
    const fs::path file = dir.path() / "Payload.BIN";
    {
        std::ofstream f(file, std::ios::binary);
        f << std::string(700, 'x');
    }
    Result r = tov({"load", file.string(), "--disk", "b"});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    ASSERT_EQ(sim_.files('b').size(), 1u);
    EXPECT_EQ(sim_.files('b')[0].name, "payload.bin");

    r = tov({"--json", "dir", "b"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = json_of(r);
    EXPECT_EQ(j["count"].num(), 1);
    ASSERT_EQ(j["entries"].arr().size(), 1u);
    EXPECT_EQ(j["entries"].arr()[0]["name"].str(), "payload.bin");
    EXPECT_EQ(j["entries"].arr()[0]["size"].num(), 700);

    r = tov({"dir", "b"});
    EXPECT_NE(r.out.find("payload.bin"), std::string::npos) << r.out;
    r = tov({"--json", "free", "b"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json_of(r)["free"].str(), std::to_string(sim_.free_bytes('b')));

    r = tov({"del-all", "b"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(sim_.files('b').empty());
}

TEST_F(Tovctl, UpdateOsInstallsTheImage) {
    TempDir dir;
    const fs::path image = dir.path() / "tovrane.img";
    {
        std::ofstream f(image, std::ios::binary);
        for (int i = 0; i < 3000; ++i) f.put(static_cast<char>(i * 7));
    }
    const Result r = tov({"--json", "update-os", image.string()});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_TRUE(json_of(r)["ok"].boolean());
    EXPECT_TRUE(sim_.image_installed());
    ASSERT_TRUE(sim_.uploaded_image());
    EXPECT_EQ(sim_.uploaded_image()->size(), 3000u);
}

TEST_F(Tovctl, VersionAndPromptAsJson) {
    Result r = tov({"--json", "ver"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = json_of(r);
    EXPECT_EQ(j["version"].num(), 123003);
    EXPECT_EQ(j["model"].str(), "TQ318-5314A");
    EXPECT_EQ(j["build_date"].str(), "Dec/06/2026");
    EXPECT_EQ(j["port_probe_flag"].num(), 1);
    r = tov({"--json", "prompt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(json_of(r)["ok"].boolean());
}

TEST_F(Tovctl, ComNumberFromTheEnvironment) {
    const Result r = run_tovctl({"--port", "COM9", "ip"}, {"UART_COM9=" + sim_.device_path()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "IP address: 192.168.1.1\n");
}

TEST_F(Tovctl, BadArgumentsSendNothing) {
    const std::vector<std::vector<std::string>> bad{
        {"ip", "300.1.1.1"},       {"ip", "1.2.3"},          {"mask", "a.b.c.d"},
        {"com"},                   {"com", "0"},             {"com", "2", "9600", "9", "n", "1"},
        {"com", "2", "9600", "8", "x", "1"},                 {"com", "2", "9600"},
        {"disksize", "5"},         {"disksize", "-1", "2"},  {"dir", "c"},
        {"free", "ab"},            {"del-all"},              {"ver", "x"},
        {"load", "/nonexistent/file"},                       {"load"},
        {"update-os", "/nonexistent/image"},                 {"prompt", "--timeout", "0"},
        {"frobnicate"}};
    sim_.clear_received_lines();
    for (const auto& args : bad) {
        const Result r = tov(args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_NE(r.err.find("usage: tovctl"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(sim_.received_lines().empty());
    const Result no_port = run_tovctl({"ip"});
    EXPECT_EQ(no_port.status, 2);
}

TEST_F(Tovctl, HelpOnEverySubcommand) {
    for (const std::string sub : {"ip", "mask", "gateway", "com", "disksize", "dir", "free", "ver", "prompt", "load",
                                  "del-all", "update-os", "ports"}) {
        const Result r = run_tovctl({sub, "--help"});
        EXPECT_EQ(r.status, 0) << sub;
        EXPECT_EQ(r.out.rfind("usage: tovctl", 0), 0u) << r.out;
        EXPECT_NE(r.out.find(sub), std::string::npos);
    }
    const Result general = run_tovctl({"--help"});
    EXPECT_EQ(general.status, 0);
    EXPECT_NE(general.out.find("update-os"), std::string::npos);
}

TEST_F(Tovctl, DeviceFailureReportsCodeAndText) {
    sim_.set_model("TQ318-9000X");
    Result r = tov({"ip"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("code 55"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Error!, Code:55"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
    r = tov({"--json", "mask"});
    EXPECT_EQ(r.status, 1);
    const auto j = json_of(r);
    EXPECT_FALSE(j["ok"].boolean());
    EXPECT_EQ(j["code"].num(), 55);
}

TEST_F(Tovctl, BusyPortSaysItIsInUse) {
    ::setenv("UART_COM7", sim_.device_path().c_str(), 1);
    ASSERT_EQ(Open_Com(7, 115200, 8, 0, 0), 0);
    const Result r = run_tovctl({"--port", sim_.device_path(), "ip"});
    Close_Com(7);
    ::unsetenv("UART_COM7");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("in use"), std::string::npos) << r.err;
}

TEST_F(Tovctl, PermissionDeniedSaysHowToFixIt) {
    constexpr const char* kSetpriv = "/usr/bin/setpriv";
    if (::geteuid() != 0 || ::access(kSetpriv, X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
    // The pty belongs to root (mode 0620): the user nobody may not open it.
    const Result r = run_program(kSetpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", TOVCTL_PATH,
                                            "--port", sim_.device_path(), "ip"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("permission denied"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("sudo usermod -aG dialout $USER"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("log out and in again"), std::string::npos) << r.err;
}

TEST_F(Tovctl, MissingDeviceSaysSo) {
    const Result r = run_tovctl({"--port", "/dev/ttyNOSUCH0", "ip"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("no such device"), std::string::npos) << r.err;
}

TEST_F(Tovctl, TraceRecordsTheExchange) {
    TempDir dir;
    const fs::path trace = dir.path() / "trace.txt";
    const Result r = tov({"--trace", trace.string(), "mask"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = slurp(trace);
    EXPECT_NE(text.find("mask"), std::string::npos) << text;
    EXPECT_NE(text.find("MASK="), std::string::npos) << text;
}

TEST_F(Tovctl, PortsListsMappedDevicesAsJson) {
    const Result r = run_tovctl({"--json", "ports"}, {"UART_COM12=" + sim_.device_path()});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = json_of(r);
    bool found = false;
    for (const auto& p : j["ports"].arr()) {
        if (p["path"].str() == sim_.device_path()) {
            found = true;
            EXPECT_EQ(p["com"].num(), 12);
        }
    }
    EXPECT_TRUE(found) << r.out;
}
