// tovctl's repairs end to end: the built program against simulated
// controllers on real ptys, with packages made by the kit's package writer.
// One table of single-port runs (verified, refused, failed), then several
// ports at once and `wait`. Stops are in stop_test.cpp.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
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
using testing_support::write_file;
using tovctl_test::Args;
using tovctl_test::Result;
using Json = nlohmann::json;
using Members = std::vector<std::pair<std::string, std::string>>;
using Lines = std::vector<std::string>;

std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

std::string sha256_hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < length; ++i) hex += (std::snprintf(two, sizeof two, "%02x", digest[i]), two);
    return hex;
}

// Every line of `out` as a JSON object; a line that is not one fails the test.
std::vector<Json> json_lines(const std::string& out) {
    std::vector<Json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(Json::parse(line, nullptr, false));
        EXPECT_TRUE(lines.back().is_object()) << "not a JSON object: " << line;
    }
    return lines;
}

Members standard() {
    return {{"tq318.exe", random_bytes(5000, 1)}, {"web.bin", random_bytes(700, 2)}, {"cfg.dat", random_bytes(256, 3)}};
}

bool holds(const tq318::Simulator& sim, char disk, const Members& members) {
    const auto files = sim.files(disk);
    return files.size() == members.size() && std::all_of(members.begin(), members.end(), [&](const auto& m) {
               return std::any_of(files.begin(), files.end(), [&](const auto& f) {
                   return f.name == m.first && f.data == std::vector<std::uint8_t>(m.second.begin(), m.second.end());
               });
           });
}

class TovctlRepair : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(temp_ / "work"); }
    tq318::Simulator& add_sim(std::function<void(tq318::SimulatorOptions&)> change = {}) {
        tq318::SimulatorOptions o;
        o.disk_a_kib = 4096;
        o.disk_b_kib = 4096;
        if (change) change(o);
        sims_.push_back(std::make_unique<tq318::Simulator>(o));
        sims_.back()->start();
        return *sims_.back();
    }
    // A package of `members`; the program tq318.exe comes first in its list.
    fs::path package(const Members& members, const std::string& program = "") {
        const fs::path dir = temp_ / ("members" + std::to_string(++packages_));
        fs::create_directories(dir);
        for (const auto& [name, bytes] : members) write_file(dir / name, bytes);
        const fs::path out = temp_ / ("p" + std::to_string(packages_)) / "tq318.hex";
        fs::create_directories(out.parent_path());
        EXPECT_EQ(make_package::write_package({dir, out, program, true}), "");
        return out;
    }
    // tovctl on `ports`; records and work folders stay in this test's folder.
    Result tovctl(const Args& ports, Args args, const Args& env = {}) {
        Args all;
        for (const auto& p : ports) all.insert(all.end(), {"--port", p});
        all.insert(all.end(), args.begin(), args.end());
        Args environment{"XDG_STATE_HOME=" + (temp_ / "state").string(), "TEMP=" + (temp_ / "work").string()};
        environment.insert(environment.end(), env.begin(), env.end());
        Result r = tovctl_test::run(TOVCTL_PATH, all, environment);
        for (auto& s : sims_) s->wait_for_slave(false, 2s);
        return r;
    }
    std::vector<Json> records() { return json_lines(tovctl({}, {"--json", "history"}).out); }

    testing_support::TempDir temp_;
    std::vector<std::unique_ptr<tq318::Simulator>> sims_;
    int packages_ = 0;
};

// One run against one controller. In `args`, "{P}" is the row's package and
// "{T}" this test's folder, where the refused files below lie.
struct RepairRun {
    const char* name;
    Args args;
    int status;
    std::vector<std::string> said;  // each in stdout and stderr together (exactly once when it succeeds)
    std::optional<Lines> lines;     // every console line the controller received
    const char* outcome = "";       // the run's record ("" when not looked at)
    std::function<void(tq318::SimulatorOptions&)> options = {};
    std::function<void(tq318::Faults&)> faults = {};
    Members members = {};           // empty: the standard ones
    char verifiedOn = 0;            // the members are stored on this disk
    bool noRecordFolder = false;    // a regular file where the records' folder goes
};

// The lines of a run that reached its loads: the probe's blank line, the
// deletes, the prompt and free-space probes, then `rest`.
Lines afterProbes(Lines rest) {
    Lines l{"", "del", "y", "delb", "y", "", "dir"};
    l.insert(l.end(), rest.begin(), rest.end());
    return l;
}

const RepairRun kRuns[] = {
    {"verified_in_json", {"--json", "repair-firmware", "{P}", "--disk", "b"}, 0,
     {"\"event\":\"result\"", "\"result\":\"verified\""}, afterProbes({"loadb", "loadb", "loadb", "dir", "reset"}),
     "verified", {}, {}, {}, 'b'},
    {"record_not_written", {"repair-firmware", "{P}", "--disk", "a"}, 0, {"the repair record was not written"},
     afterProbes({"load", "load", "load", "dir", "reset"}), "", {}, {}, {}, 'a', true},
    {"slow_replies_100ms", {"repair-firmware", "{P}", "--disk", "b"}, 0, {"Verified: 3 member(s) listed on disk b"},
     afterProbes({"loadb", "loadb", "loadb", "dir", "reset"}), "verified", {}, [](auto& f) { f.reply_delay_ms = 100; }, {}, 'b'},
    {"slow_replies_500ms", {"repair-firmware", "{P}", "--disk", "b"}, 0, {"Verified: 3 member(s) listed on disk b"},
     afterProbes({"loadb", "loadb", "loadb", "dir", "reset"}), "verified", {}, [](auto& f) { f.reply_delay_ms = 500; }, {}, 'b'},
    // Refused before the device was touched: exit 4, not one console line.
    {"missing", {"repair-firmware", "{T}/missing.hex", "--disk", "a"}, 4, {"!!\n  not found"}, Lines{}},
    {"folder", {"repair-firmware", "{T}/folder.hex", "--wait", "--wait-timeout", "1"}, 4, {"!!\n  a folder"}, Lines{}},
    {"blank_in_a_name", {"repair-firmware", "{T}/blank/tq318.hex", "--disk", "b"}, 4,
     {"!!\n  the member name \"my file.bin\" is refused"}, Lines{}},
    {"program_missing", {"--json", "repair-firmware", "{T}/wrong/tq318.hex", "--disk", "a"}, 4,
     {"!!\n  the member tq318.exe is missing"}, Lines{}},
    {"not_a_cabinet", {"repair-firmware", "{T}/junk.hex", "--disk", "a"}, 4, {"!!\n  not a cabinet archive"}, Lines{}},
    {"truncated", {"repair-firmware", "{T}/cut/tq318.hex", "--disk", "a"}, 4, {"!!\n  truncated: "}, Lines{}},
    {"damaged", {"repair-firmware", "{T}/damaged/tq318.hex", "--disk", "a"}, 4,
     {"!!\n  damaged: file.lst is in its file table but could not be unpacked"}, Lines{}},
    {"os_missing", {"repair-os", "{T}/missing.img"}, 4, {"!!\n  not found"}, Lines{}},
    {"os_empty", {"repair-os", "{T}/empty.img"}, 4, {"!!\n  the image is empty (0 bytes)"}, Lines{}},
    // Usage errors: exit 2, nothing sent.
    {"no_disk", {"repair-firmware", "{P}"}, 2, {"--disk is required without --wait: the mode code"}, Lines{}},
    {"disk_c", {"repair-firmware", "{P}", "--disk", "c"}, 2, {"disk must be a or b"}, Lines{}},
    {"on_full_disk_maybe", {"repair-firmware", "{P}", "--disk", "a", "--on-full-disk", "maybe"}, 2,
     {"answer yes or no"}, Lines{}},
    {"no_image", {"repair-os"}, 2, {"IMAGE is required"}, Lines{}},
    {"wait_timeout_0", {"wait", "--timeout", "0"}, 2, {"--timeout"}, Lines{}},
    {"port_twice", {"--port", "{D}", "repair-firmware", "{P}", "--disk", "a"}, 2, {"twice"}, Lines{}},
    {"com0", {"--port", "COM0", "repair-firmware", "{P}", "--disk", "a"}, 2, {"not a COM number"}, Lines{}},
    // Failed: the reason said, never a success.
    {"password_prompt_without_wait", {"--json", "repair-firmware", "{P}", "--disk", "b"}, 1,
     {"\"failure\":\"the controller asks for its password: power it on with --wait\""}, std::nullopt, "failed",
     [](auto& o) { o.password = "quorvelstand83", o.boot_on_start = true; }},
    {"silent_console", {"repair-os", "{P}"}, 1, {"the console is silent"}, Lines{""}, "failed", {}, [](auto& f) { f.silent = true; }},
    {"blank_after_the_prompt", {"repair-os", "{P}"}, 1,
     {"answered \"TQ318-5314A> \" instead of its prompt (blanks follow the prompt character '>')"}, Lines{""}, "failed",
     {}, [](auto& f) { f.text_after_prompt = " "; }},
    {"del_unanswered", {"repair-firmware", "{P}", "--disk", "a"}, 1,
     {"no answer to \"del\"", "No disk was emptied.", "Firmware Upgrade Failed!!"}, Lines{"", "del"}, "failed", {},
     [](auto& f) { f.mute_commands = {"del"}; }},
    {"full_disk_answered_yes", {"--json", "repair-firmware", "{P}", "--disk", "a", "--on-full-disk", "yes"}, 1,
     {"\"event\":\"question\"", "\"answer\":\"yes\"", "\"lines\":[\"tq318.exe: missing\",\"a.bin: missing\"]"},
     std::nullopt, "failed", [](auto& o) { o.disk_a_kib = 16; }, {},
     {{"tq318.exe", random_bytes(5000, 1)}, {"a.bin", random_bytes(6000, 2)}, {"b.bin", random_bytes(6000, 3)}}},
    {"os_install_error", {"repair-os", "{T}/os.img"}, 1,
     {"Flash write error, image NOT installed", "OS Upgrade Failed!!"}, Lines{"", "upload", "bios1", "reset"},
     "failed", {}, [](auto& f) { f.bios1_answer = "\r\nFlash write error, image NOT installed\r\nTQ318-5314A>"; }},
    {"os_report_rejected", {"repair-os", "{T}/os.img"}, 1, {"Image rejected: bad blocks", "OS Upgrade Failed!!"},
     Lines{"", "upload", "reset"}, "failed", {}, [](auto& f) { f.upload_report = "\r\nImage rejected: bad blocks\r\nTQ318-5314A>"; }},
    {"os_crc_of_five_digits", {"repair-os", "{T}/os.img"}, 1, {"CRC16=00000", "OS Upgrade Failed!!"},
     Lines{"", "upload", "reset"}, "failed", {},
     [](auto& f) { f.upload_report = "\r\nImage received, 12 bytes, CRC16=00000\r\nTQ318-5314A>"; }},
};

void PrintTo(const RepairRun& run, std::ostream* os) { *os << run.name; }

class Runs : public TovctlRepair, public ::testing::WithParamInterface<RepairRun> {};

TEST_P(Runs, Row) {
    const RepairRun& run = GetParam();
    tq318::Simulator& sim = add_sim(run.options);
    const Members members = run.members.empty() ? standard() : run.members;
    const std::string p = package(members).string();
    // The files the refusals are about.
    const std::string whole = testing_support::read_file(p);
    for (const char* d : {"folder.hex", "cut", "damaged"}) fs::create_directories(temp_ / d);
    write_file(temp_ / "cut" / "tq318.hex", whole.substr(0, whole.size() / 2));
    write_file(temp_ / "damaged" / "tq318.hex", whole.substr(0, 300) + std::string(whole.size() - 300, 'U'));
    write_file(temp_ / "junk.hex", random_bytes(3000, 6));
    write_file(temp_ / "empty.img", "");
    write_file(temp_ / "os.img", random_bytes(3000, 9));
    fs::copy(package({{"tq318.exe", random_bytes(900, 4)}, {"my file.bin", "x"}}).parent_path(), temp_ / "blank");
    fs::copy(package({{"other.exe", random_bytes(900, 5)}}, "other.exe").parent_path(), temp_ / "wrong");
    if (run.noRecordFolder) write_file(temp_ / "state", "in the way");
    Args args = run.args;
    for (auto& a : args) {
        if (a == "{P}") a = p;
        if (a == "{D}") a = sim.device_path();
        if (a.starts_with("{T}")) a = temp_.path().string() + a.substr(3);
    }
    tq318::Faults faults;
    if (run.faults) run.faults(faults);
    sim.set_faults(faults);
    sim.clear_received_lines();
    const Result r = tovctl({sim.device_path()}, args);
    const std::string all = r.out + r.err;

    EXPECT_EQ(r.status, run.status) << all;
    for (const auto& text : run.said) {
        const auto at = all.find(text);
        EXPECT_NE(at, std::string::npos) << text << " in " << all;
        if (run.status == 0) {
            EXPECT_EQ(all.find(text, at + 1), std::string::npos) << text << " twice in " << all;
        }
    }
    if (run.status == 4) {
        EXPECT_NE(r.err.find("refused before the device was touched"), std::string::npos) << r.err;
    }
    if (run.status != 0) { EXPECT_EQ(all.find("Verified"), std::string::npos) << all; }
    if (run.status != 0) { EXPECT_EQ(all.find("Upgrade Successed."), std::string::npos) << all; }
    if (run.lines) { EXPECT_EQ(sim.received_lines(), *run.lines); }
    if (run.verifiedOn) {
        EXPECT_TRUE(holds(sim, run.verifiedOn, members) && sim.files(run.verifiedOn == 'a' ? 'b' : 'a').empty());
    }
    EXPECT_FALSE(sim.image_installed());
    if (std::find(args.begin(), args.end(), "--json") != args.end()) json_lines(r.out);
    if (*run.outcome) {
        const auto recs = records();
        ASSERT_EQ(recs.size(), 1u);
        EXPECT_EQ(recs[0].value("outcome", ""), run.outcome);
    }
    EXPECT_TRUE(fs::is_empty(temp_ / "work"));
}

INSTANTIATE_TEST_SUITE_P(Table, Runs, ::testing::ValuesIn(kRuns), [](const auto& i) { return std::string(i.param.name); });

// After waiting for the power restart: verified, every member, and the record
// with the package's and each member's digest.
TEST_F(TovctlRepair, FirmwareAfterWaitingForThePowerRestartIsVerified) {
    tq318::Simulator& sim = add_sim([](auto& o) { o.password = "quorvelstand83", o.restart_after_open_ms = 50; });
    sim.put_file('b', tq318::StoredFile{"stale.bin", {1, 2, 3}});
    const auto members = standard();
    const fs::path p = package(members);
    const Result r = tovctl({sim.device_path()}, {"repair-firmware", p.string(), "--wait", "--wait-timeout", "20"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Controller restarted, mode code MS"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Verified: 3 member(s) listed on disk a"), std::string::npos) << r.out;
    EXPECT_TRUE(holds(sim, 'a', members));
    EXPECT_TRUE(sim.files('b').empty());
    EXPECT_EQ(sim.received_lines().front(), "quorvelstand83");
    EXPECT_EQ(sim.received_lines().back(), "reset");
    const auto recs = records();
    ASSERT_EQ(recs.size(), 1u);
    const Json& rec = recs.front();
    EXPECT_EQ(rec.value("frontEnd", ""), "tovctl");
    EXPECT_EQ(rec.value("banner", ""), "HALVERN Tovrane V1.2MS repair console");  // the line alone
    EXPECT_EQ(rec.value("device", ""), sim.device_path());
    EXPECT_EQ(rec.value("sha256", ""), sha256_hex(testing_support::read_file(p)));
    ASSERT_EQ(rec["members"].size(), members.size() + 1);  // and the record's line, auth.key
    for (const auto& [name, bytes] : members) {
        const auto m = std::find_if(rec["members"].begin(), rec["members"].end(),
                                    [&](const Json& j) { return j.value("name", "") == name; });
        ASSERT_NE(m, rec["members"].end()) << name;
        EXPECT_EQ(m->value("size", 0u), bytes.size()) << name;
        EXPECT_EQ(m->value("sha256", ""), sha256_hex(bytes)) << name;
    }
    const Result text = tovctl({}, {"history", "--last", "1"});
    EXPECT_NE(text.out.find("tovctl  COM"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("/tq318.hex  verified  3/3 members loaded"), std::string::npos) << text.out;
}

// When the free-space probe fails the controller picks the disk itself; if it
// picks another than the one asked for, the repair says so and fails.
TEST_F(TovctlRepair, MembersOnAnotherDiskThanAskedAreNoSuccess) {
    tq318::Simulator& sim = add_sim();  // mode code MS: "loadfirmware" stores on disk A
    tq318::Faults mute;
    mute.mute_commands = {"dir"};
    sim.set_faults(mute);
    // The listing that verifies is answered again once the downloads have begun.
    std::jthread answer_dir_again([&sim] {
        if (sim.wait_for_line("loadfirmware", 60s)) sim.set_faults({});
    });
    const Result r = tovctl({sim.device_path()}, {"repair-firmware", package(standard()).string(), "--disk", "b"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("members stored on disk A by the controller, not on disk B as asked"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Verified"), std::string::npos) << r.out;
}

// Five ports by one command: a silent controller, one that refuses every
// block and a device that cannot be opened fail alone; the summary has a row
// per port, and the JSON form names the port in every event.
TEST_F(TovctlRepair, SeveralPortsFailAlone) {
    Args ports;
    for (int i = 0; i < 4; ++i) ports.push_back(add_sim().device_path());
    ports.push_back("/dev/ttyNOSUCH0");
    tq318::Faults silent, nak;
    silent.silent = true;
    nak.nak_rate = 1.0;
    sims_[2]->set_faults(silent);
    sims_[1]->set_faults(nak);
    const auto members = standard();
    const fs::path p = package(members);
    const Result r = tovctl(ports, {"repair-firmware", p.string(), "--disk", "a"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const char* shown[][2] = {{" verified ", " 3/3 "}, {" failed ", " 0/3 "}, {" failed ", ""}, {" verified ", " 3/3 "},
                              {" failed ", "exit 3"}};
    for (int i = 0; i < 5; ++i) {
        if (i < 4) { EXPECT_EQ(holds(*sims_[i], 'a', members), i == 0 || i == 3) << i; }
        const auto row = r.out.find("\n" + ports[i] + " ");
        ASSERT_NE(row, std::string::npos) << r.out;
        const std::string line = r.out.substr(row, r.out.find('\n', row + 1) - row);
        for (const char* text : shown[i]) EXPECT_NE(line.find(text), std::string::npos) << line;
    }
    EXPECT_NE(r.err.find("/dev/ttyNOSUCH0: tovctl: cannot open"), std::string::npos) << r.err;
    ports.pop_back();
    sims_[1]->set_faults({}), sims_[2]->set_faults({});
    const auto lines = json_lines(tovctl(ports, {"--json", "repair-firmware", p.string(), "--disk", "a"}).out);
    ASSERT_FALSE(lines.empty());
    for (std::size_t k = 0; k + 1 < lines.size(); ++k) EXPECT_TRUE(lines[k].contains("port")) << lines[k];
    EXPECT_EQ(lines.back().value("event", ""), "summary");
    EXPECT_EQ(lines.back().value("ok", false), true);
    EXPECT_EQ(lines.back()["ports"].size(), 4u);
    // A package refused is refused for every port before any is touched.
    for (auto& s : sims_) s->clear_received_lines();
    const fs::path blank = package({{"tq318.exe", random_bytes(900, 4)}, {"my file.bin", "x"}});
    EXPECT_EQ(tovctl(ports, {"repair-firmware", blank.string(), "--disk", "a"}).status, 4);
    for (auto& s : sims_) EXPECT_TRUE(s->received_lines().empty());
}

// Numbers and paths mixed, with the mapping file and UART_COM<N>: each
// controller is repaired through the device its own argument names (a path is
// lent a COM number no other argument uses); two naming one device are refused.
TEST_F(TovctlRepair, MixedPortsEachRepairTheirOwnController) {
    struct Mix { std::vector<std::string> ports; std::string mapping, variable; int status; };
    const Mix mixes[] = {{{"{B}", "COM1"}, "COM1={A}\n", "", 0},
                         {{"2", "{B}"}, "", "UART_COM2={A}", 0},
                         {{"{B}", "1"}, "COM1={A}\nCOM2={B}\n", "", 0},
                         {{"1", "{A}"}, "COM1={A}\n", "", 2}};
    const auto members = standard();
    const fs::path p = package(members);
    for (const Mix& mix : mixes) {
        sims_.clear();
        fs::remove_all(temp_ / "state");
        const std::string a = add_sim().device_path(), b = add_sim().device_path();
        auto with_devices = [&](std::string text) {
            for (std::size_t at; (at = text.find("{A}")) != std::string::npos;) text.replace(at, 3, a);
            for (std::size_t at; (at = text.find("{B}")) != std::string::npos;) text.replace(at, 3, b);
            return text;
        };
        SCOPED_TRACE(with_devices(mix.mapping + mix.variable));
        Args ports;
        for (const auto& port : mix.ports) ports.push_back(with_devices(port));
        const fs::path config = temp_ / "config";
        fs::remove_all(config);
        fs::create_directories(config / "tq318");
        write_file(config / "tq318" / "ports", with_devices(mix.mapping));
        Args env{"XDG_CONFIG_HOME=" + config.string()};
        if (!mix.variable.empty()) env.push_back(with_devices(mix.variable));
        const Result r = tovctl(ports, {"repair-firmware", p.string(), "--disk", "a"}, env);
        EXPECT_EQ(r.status, mix.status) << r.out << r.err;
        if (mix.status == 2) {
            EXPECT_NE(r.err.find("name the same device"), std::string::npos) << r.err;
            EXPECT_TRUE(sims_[0]->received_lines().empty());
            continue;
        }
        std::vector<std::string> recorded;
        for (const Json& rec : records()) recorded.push_back(rec.value("device", ""));
        std::sort(recorded.begin(), recorded.end());
        EXPECT_EQ(recorded, (a < b ? Lines{a, b} : Lines{b, a}));
        for (int i = 0; i < 2; ++i) EXPECT_TRUE(holds(*sims_[i], 'a', members)) << i;
    }
}

// wait prints the banner's mode code after a power restart and ends at the
// prompt that follows it (a command at once is heard); no restart: exit 1.
TEST_F(TovctlRepair, WaitPrintsTheModeCodeOrTimesOut) {
    struct Case { int restart_ms; Args args; int status; std::string out; };
    const Case cases[] = {
        {1000, {"wait", "--timeout", "20"}, 0, "SL (mode code; loads to disk B)\n"},
        {50, {"--json", "wait"}, 0, "{\"command\":\"wait\",\"ok\":true,\"mode_code\":\"SL\""},
        {-1, {"wait", "--timeout", "1"}, 1, ""},
    };
    for (const Case& c : cases) {
        sims_.clear();
        tq318::Simulator& sim = add_sim([&](auto& o) {
            o.password = "quorvelstand83", o.mode_code = "SL", o.restart_after_open_ms = c.restart_ms;
        });
        const Result r = tovctl({sim.device_path()}, c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_TRUE(r.out.starts_with(c.out)) << r.out;
        if (c.status != 0) {
            EXPECT_NE(r.err.find("no power restart seen within 1 s"), std::string::npos) << r.err;
        }
        if (c.status != 0) continue;
        const Result v = tovctl({sim.device_path()}, {"ver"});  // the restart after this open comes long after
        EXPECT_NE(v.out.find("Version: Tovrane 1.23 build 003 (123003)"), std::string::npos) << v.out << v.err;
    }
}

}  // namespace
