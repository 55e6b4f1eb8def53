// tovctl's repairs end to end: the built program against simulated
// controllers on real ptys, with packages made by the kit's package writer.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

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
using tovctl_test::Result;
using Json = nlohmann::json;

std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

std::string sha256_hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned i = 0; i < length; ++i) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

// Every line of `out` as a JSON object; a line that is not one fails the test.
std::vector<Json> json_lines(const std::string& out) {
    std::vector<Json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        Json j = Json::parse(line, nullptr, false);
        EXPECT_TRUE(j.is_object()) << "not a JSON object: " << line;
        lines.push_back(std::move(j));
    }
    return lines;
}

tq318::SimulatorOptions sim_options() {
    tq318::SimulatorOptions o;
    o.disk_a_kib = 4096;
    o.disk_b_kib = 4096;
    return o;
}

class TovctlRepair : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(temp_ / "work"); }
    tq318::Simulator& add_sim(tq318::SimulatorOptions options = sim_options()) {
        sims_.push_back(std::make_unique<tq318::Simulator>(std::move(options)));
        sims_.back()->start();
        return *sims_.back();
    }
    // A package of `members` (name, bytes); the program tq318.exe comes first.
    fs::path package(const std::vector<std::pair<std::string, std::string>>& members,
                     const std::string& program = "") {
        const fs::path dir = temp_ / ("members" + std::to_string(++packages_));
        fs::create_directories(dir);
        for (const auto& [name, bytes] : members) testing_support::write_file(dir / name, bytes);
        const fs::path out = temp_ / ("p" + std::to_string(packages_)) / "tq318.hex";
        fs::create_directories(out.parent_path());
        EXPECT_EQ(make_package::write_package({dir, out, program, true}), "");
        package_path_ = out;
        return out;
    }
    std::vector<std::pair<std::string, std::string>> standard() {
        return {{"tq318.exe", random_bytes(5000, 1)}, {"web.bin", random_bytes(700, 2)},
                {"cfg.dat", random_bytes(256, 3)}};
    }
    Result tovctl(const Args& ports, Args args, const Args& env = {}) {
        Args all;
        for (const auto& p : ports) all.insert(all.end(), {"--port", p});
        all.insert(all.end(), args.begin(), args.end());
        // Records and the engine's work folders stay in this test's folder.
        Args environment{"XDG_STATE_HOME=" + (temp_ / "state").string(), "TEMP=" + (temp_ / "work").string()};
        environment.insert(environment.end(), env.begin(), env.end());
        Result r = tovctl_test::run(TOVCTL_PATH, all, environment);
        for (auto& s : sims_) s->wait_for_slave(false, 2s);
        return r;
    }
    bool work_folders_gone() const { return fs::is_empty(temp_ / "work"); }

    TempDir temp_;
    fs::path package_path_;  // the last package made
    std::vector<std::unique_ptr<tq318::Simulator>> sims_;
    int packages_ = 0;
};

bool holds(const std::vector<tq318::StoredFile>& files, const std::string& name, const std::string& bytes) {
    return std::any_of(files.begin(), files.end(),
                       [&](const auto& f) { return f.name == name && f.data == bytes_of(bytes); });
}

}  // namespace

TEST_F(TovctlRepair, FirmwareAfterWaitingForThePowerRestartIsVerified) {
    auto options = sim_options();
    options.password = "quorvelstand83";
    options.restart_after_open_ms = 50;
    options.mode_code = "MS";
    tq318::Simulator& sim = add_sim(options);
    sim.put_file('b', tq318::StoredFile{"stale.bin", {1, 2, 3}});
    const auto members = standard();
    const Result r = tovctl({sim.device_path()}, {"repair-firmware", package(members).string(), "--wait",
                                                  "--wait-timeout", "20"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Controller restarted, mode code MS"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Verified: 3 member(s) listed on disk a"), std::string::npos) << r.out;
    for (const auto& [name, bytes] : members) EXPECT_TRUE(holds(sim.files('a'), name, bytes)) << name;
    EXPECT_TRUE(sim.files('b').empty());
    const auto lines = sim.received_lines();
    EXPECT_EQ(lines.front(), "quorvelstand83");
    EXPECT_EQ(lines.back(), "reset");
    EXPECT_TRUE(work_folders_gone());

    // The record: the package's digest and every member's size and digest.
    const Result h = tovctl({}, {"--json", "history"});
    ASSERT_EQ(h.status, 0) << h.err;
    const auto records = json_lines(h.out);
    ASSERT_EQ(records.size(), 1u) << h.out;
    const Json& rec = records.front();
    EXPECT_EQ(rec.value("frontEnd", ""), "tovctl");
    EXPECT_EQ(rec.value("outcome", ""), "verified");
    EXPECT_EQ(rec.value("modeCode", ""), "MS");
    EXPECT_EQ(rec.value("banner", ""), "HALVERN Tovrane V1.2MS repair console");  // the line alone
    EXPECT_EQ(rec.value("device", ""), sim.device_path());
    EXPECT_EQ(rec.value("sha256", ""), sha256_hex(testing_support::read_file(package_path_)));
    ASSERT_EQ(rec["members"].size(), members.size() + 1);  // and the record's line, auth.key
    for (const auto& [name, bytes] : members) {  // in the list's order, which the package writer chose
        const auto m = std::find_if(rec["members"].begin(), rec["members"].end(),
                                    [&](const Json& j) { return j.value("name", "") == name; });
        ASSERT_NE(m, rec["members"].end()) << name;
        EXPECT_EQ(m->value("size", 0u), bytes.size()) << name;
        EXPECT_EQ(m->value("sha256", ""), sha256_hex(bytes)) << name;
        EXPECT_EQ(m->value("loadCode", -1), 0) << name;
    }
    const Result text = tovctl({}, {"history", "--last", "1"});
    EXPECT_NE(text.out.find("tovctl  COM"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("/tq318.hex  verified  3/3 members loaded"), std::string::npos) << text.out;
}

// No place for the record (a regular file where its folder goes; root is not
// stopped by permissions): the repair still succeeds, and says so once.
TEST_F(TovctlRepair, RecordThatCannotBeWrittenNeverFailsTheRepair) {
    tq318::Simulator& sim = add_sim();
    fs::create_directories(temp_ / "state");
    testing_support::write_file(temp_ / "state" / "tq318", "in the way");
    const Result r = tovctl({sim.device_path()}, {"repair-firmware", package(standard()).string(), "--disk", "a"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const auto said = r.err.find("the repair record was not written");
    ASSERT_NE(said, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("the repair record was not written", said + 1), std::string::npos) << r.err;
}

// Refused before the device was touched: exit 4, not one console line, even with --wait.
TEST_F(TovctlRepair, RefusedPackageExitsFourWithNothingSent) {
    tq318::Simulator& sim = add_sim();
    const fs::path blank = package({{"tq318.exe", random_bytes(900, 4)}, {"my file.bin", "x"}});
    const fs::path wrong_program = package({{"other.exe", random_bytes(900, 5)}}, "other.exe");
    const std::string whole = testing_support::read_file(package(standard()));
    fs::create_directories(temp_ / "cut");
    testing_support::write_file(temp_ / "cut" / "tq318.hex", whole.substr(0, whole.size() / 2));
    // Whole length and file table, the data behind it overwritten.
    fs::create_directories(temp_ / "damaged");
    testing_support::write_file(temp_ / "damaged" / "tq318.hex", whole.substr(0, 300) + std::string(whole.size() - 300, 'U'));
    testing_support::write_file(temp_ / "junk.hex", random_bytes(3000, 6));
    testing_support::write_file(temp_ / "empty.img", "");
    fs::create_directories(temp_ / "folder.hex");
    // Each refusal says why on the line after the message.
    const std::vector<std::pair<Args, std::string>> cases{
        {{"repair-firmware", (temp_ / "missing.hex").string(), "--disk", "a"}, "not found"},
        {{"repair-firmware", (temp_ / "folder.hex").string(), "--wait", "--wait-timeout", "1"}, "a folder"},
        {{"repair-firmware", blank.string(), "--disk", "b"}, "the member name \"my file.bin\" is refused"},
        {{"--json", "repair-firmware", wrong_program.string(), "--disk", "a"}, "the member tq318.exe is missing"},
        {{"repair-firmware", (temp_ / "junk.hex").string(), "--disk", "a"}, "not a cabinet archive"},
        {{"repair-firmware", (temp_ / "cut" / "tq318.hex").string(), "--disk", "a"}, "truncated: "},
        {{"repair-firmware", (temp_ / "damaged" / "tq318.hex").string(), "--disk", "a"},
         "damaged: file.lst is in its file table but could not be unpacked"},
        {{"repair-os", (temp_ / "missing.img").string()}, "not found"},
        {{"repair-os", (temp_ / "empty.img").string()}, "the image is empty (0 bytes)"},
    };
    sim.clear_received_lines();
    for (const auto& [args, why] : cases) {
        const Result r = tovctl({sim.device_path()}, args);
        EXPECT_EQ(r.status, 4) << args[1] << r.out << r.err;
        EXPECT_NE(r.err.find("refused before the device was touched"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("!!\n  " + why + ""), std::string::npos) << why << ": " << r.err;
    }
    tq318::Simulator& other = add_sim();
    const Result several = tovctl({sim.device_path(), other.device_path()}, cases[2].first);
    EXPECT_EQ(several.status, 4) << several.err;
    EXPECT_TRUE(sim.received_lines().empty());
    EXPECT_TRUE(other.received_lines().empty());
    EXPECT_FALSE(sim.uploaded_image());
    EXPECT_TRUE(work_folders_gone());
}

// "wait" ends at the prompt that follows the banner: a command at once is heard.
TEST_F(TovctlRepair, CommandRightAfterWaitSucceeds) {
    auto options = sim_options();
    options.password = "quorvelstand83";
    options.restart_after_open_ms = 1000;  // also when "ver" opens the port: it is done long before
    tq318::Simulator& sim = add_sim(options);
    for (int i = 0; i < 2; ++i) {
        const Result w = tovctl({sim.device_path()}, {"wait", "--timeout", "20"});
        ASSERT_EQ(w.status, 0) << w.err;
        EXPECT_EQ(w.out, "MS (mode code; loads to disk A)\n");
        const Result v = tovctl({sim.device_path()}, {"ver"});
        EXPECT_EQ(v.status, 0) << v.err;
        EXPECT_NE(v.out.find("Version: Tovrane 1.23 build 003 (123003)"), std::string::npos) << v.out;
    }
}

// Without --wait, at a controller that asks for its password: one blank line
// is sent, the repair ends saying what it saw, and the record says so too.
TEST_F(TovctlRepair, RepairAtPasswordPromptEndsAfterTheProbe) {
    auto options = sim_options();
    options.password = "quorvelstand83";
    options.boot_on_start = true;  // restarted before the port was opened: it waits for its password
    tq318::Simulator& sim = add_sim(options);
    sim.clear_received_lines();
    const Result r = tovctl({sim.device_path()},
                            {"--json", "repair-firmware", package(standard()).string(), "--disk", "b"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const std::string said = "the controller asks for its password: power it on with --wait";
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    // The probe's blank line (not heard when it came during the boot noise), nothing else.
    const auto heard = sim.received_lines();
    EXPECT_TRUE(heard.empty() || heard == std::vector<std::string>{""}) << heard.size() << " lines, " << heard.front();
    const auto lines = json_lines(r.out);
    ASSERT_FALSE(lines.empty());
    const Json& result = lines.back();
    EXPECT_EQ(result.value("failure", ""), said);
    EXPECT_EQ(result.value("disk", ""), "b");
    EXPECT_EQ(result["messages"], Json::array({said}));
    const auto records = json_lines(tovctl({}, {"--json", "history"}).out);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records.front().value("failureText", ""), said);
    EXPECT_EQ(records.front().value("disk", ""), "b");
    EXPECT_EQ(records.front().value("outcome", ""), "failed");
    EXPECT_TRUE(work_folders_gone());
}

// A console that is not at its prompt gets the probe's blank line alone, and
// the text says what came back, exactly (a blank after '>' included).
TEST_F(TovctlRepair, RepairAtConsoleWithoutPromptEndsAfterTheProbe) {
    tq318::Faults silent, blank_after_prompt;
    silent.silent = true;
    blank_after_prompt.text_after_prompt = " ";
    const std::vector<std::pair<tq318::Faults, std::string>> cases{
        {silent, "the console is silent"},
        {blank_after_prompt, "answered \"TQ318-5314A> \" instead of its prompt (blanks follow the prompt character '>')"},
    };
    for (const auto& [faults, said] : cases) {
        tq318::Simulator& sim = add_sim();
        sim.set_faults(faults);
        const Result r = tovctl({sim.device_path()}, {"repair-os", package(standard()).string()});
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
        EXPECT_EQ(sim.received_lines(), std::vector<std::string>{""});
    }
}

// A "del" that is never answered gets no "y": the disk keeps its files and
// the run says why it stopped and that no disk was emptied.
TEST_F(TovctlRepair, UnansweredDeleteIsNotConfirmed) {
    tq318::Simulator& sim = add_sim();
    sim.put_file('a', tq318::StoredFile{"old.bin", {1, 2, 3}});
    tq318::Faults f;
    f.mute_commands = {"del"};
    sim.set_faults(f);
    const Result r = tovctl({sim.device_path()}, {"repair-firmware", package(standard()).string(), "--disk", "a"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(sim.received_lines(), std::vector<std::string>({"", "del"}));
    EXPECT_EQ(sim.files('a').size(), 1u);
    EXPECT_NE(r.out.find("no answer to \"del\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("No disk was emptied."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Firmware Upgrade Failed!!"), std::string::npos) << r.out;
}

TEST_F(TovctlRepair, JsonLinesParseOneByOneAndEndWithTheResult) {
    tq318::Simulator& sim = add_sim();
    const auto members = standard();
    const Result r = tovctl({sim.device_path()},
                            {"--json", "repair-firmware", package(members).string(), "--disk", "b"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto lines = json_lines(r.out);
    ASSERT_FALSE(lines.empty());
    int started = 0;
    for (const Json& j : lines) started += j.value("event", "") == "member_started" ? 1 : 0;
    EXPECT_EQ(started, 3);
    const Json& last = lines.back();
    EXPECT_EQ(last.value("event", ""), "result");
    EXPECT_EQ(last.value("result", ""), "verified");
    EXPECT_EQ(last.value("disk", ""), "b");
    EXPECT_EQ(last["verification"].value("passed", false), true);
    ASSERT_EQ(last["members"].size(), 4u);  // the record too, not sent
    EXPECT_EQ(last["members"][2].value("name", ""), "web.bin");  // the program, then name order
    EXPECT_EQ(last["members"][2].value("size", 0), 700);
    for (const auto& [name, bytes] : members) EXPECT_TRUE(holds(sim.files('b'), name, bytes)) << name;
}

// Four controllers by one command; a silent one and one that refuses every
// block fail alone, the latter's row counting no member as loaded.
TEST_F(TovctlRepair, FourControllersAtOnce) {
    for (const int silent : {-1, 2}) {
        sims_.clear();
        Args ports;
        for (int i = 0; i < 4; ++i) ports.push_back(add_sim().device_path());
        const int refusing = silent >= 0 ? 1 : -1;
        if (silent >= 0) {
            tq318::Faults f;
            f.silent = true;
            sims_[silent]->set_faults(f);
            tq318::Faults nak;
            nak.nak_rate = 1.0;
            sims_[refusing]->set_faults(nak);
        }
        const auto members = standard();
        const fs::path p = package(members);
        const Result r = tovctl(ports, {"repair-firmware", p.string(), "--disk", "a"});
        EXPECT_EQ(r.status, silent >= 0 ? 1 : 0) << r.out << r.err;
        for (int i = 0; i < 4; ++i) {
            const bool ok = i != silent && i != refusing;
            for (const auto& [name, bytes] : members) EXPECT_EQ(holds(sims_[i]->files('a'), name, bytes), ok) << i;
            // The summary: one row per port with its result.
            const auto row = r.out.find("\n" + ports[i] + " ");
            ASSERT_NE(row, std::string::npos) << r.out;
            const std::string line = r.out.substr(row + 1, r.out.find('\n', row + 1) - row - 1);
            EXPECT_NE(line.find(ok ? " verified " : " failed "), std::string::npos) << line;
            if (ok || i == refusing) {
                EXPECT_NE(line.find(ok ? " 3/3 " : " 0/3 "), std::string::npos) << line;
            }
        }
        // The JSON form: every event names its port; the summary object ends it.
        if (silent < 0) {
            const auto lines = json_lines(tovctl(ports, {"--json", "repair-firmware", p.string(), "--disk", "a"}).out);
            ASSERT_FALSE(lines.empty());
            for (std::size_t k = 0; k + 1 < lines.size(); ++k) EXPECT_TRUE(lines[k].contains("port")) << lines[k];
            EXPECT_EQ(lines.back().value("event", ""), "summary");
            EXPECT_EQ(lines.back().value("ok", false), true);
            EXPECT_EQ(lines.back()["ports"].size(), 4u);
        }
    }
}

// A disk too small for the package: the library asks "Delete all files!!";
// --on-full-disk answers it, and yes empties the disk and the loads go on.
TEST_F(TovctlRepair, OnFullDiskAnswersTheLibrarysQuestion) {
    for (const std::string answer : {"yes", "no"}) {
        sims_.clear();
        auto options = sim_options();
        options.disk_a_kib = 16;
        tq318::Simulator& sim = add_sim(options);
        const std::vector<std::pair<std::string, std::string>> members{
            {"tq318.exe", random_bytes(5000, 1)}, {"a.bin", random_bytes(6000, 2)}, {"b.bin", random_bytes(6000, 3)}};
        const Result r = tovctl({sim.device_path()}, {"--json", "repair-firmware", package(members).string(), "--disk",
                                                      "a", "--on-full-disk", answer});
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        const auto lines = json_lines(r.out);
        const auto question = std::find_if(lines.begin(), lines.end(),
                                           [](const Json& j) { return j.value("event", "") == "question"; });
        ASSERT_NE(question, lines.end()) << r.out;
        EXPECT_EQ(question->value("answer", ""), answer);
        EXPECT_EQ(holds(sim.files('a'), "b.bin", members[2].second), answer == "yes") << r.out;
        if (answer == "yes") {
            EXPECT_EQ(lines.back()["verification"]["lines"],
                      (Json{"tq318.exe: missing", "a.bin: missing"}));
        }
    }
}

// wait prints the mode code of the banner after a power restart; no restart: exit 1 at the time-out.
TEST_F(TovctlRepair, WaitPrintsTheModeCodeOrTimesOut) {
    struct Case {
        int restart_ms;
        Args args;
        int status;
        std::string out;
    };
    const std::vector<Case> cases{
        {50, {"wait", "--timeout", "20"}, 0, "SL (mode code; loads to disk B)\n"},
        {50, {"--json", "wait"}, 0, "{\"command\":\"wait\",\"ok\":true,\"mode_code\":\"SL\""},
        {-1, {"wait", "--timeout", "1"}, 1, ""},
    };
    for (const Case& c : cases) {
        sims_.clear();
        auto options = sim_options();
        options.password = "quorvelstand83";
        options.mode_code = "SL";
        options.restart_after_open_ms = c.restart_ms;
        tq318::Simulator& sim = add_sim(options);
        const Result r = tovctl({sim.device_path()}, c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_TRUE(r.out.starts_with(c.out)) << r.out;
        if (c.status != 0) {
            EXPECT_NE(r.err.find("no power restart seen within 1 s"), std::string::npos) << r.err;
        }
    }
}

// A repair's usage errors exit 2 and send nothing; the missing --disk says why it is needed.
TEST_F(TovctlRepair, RepairUsageErrors) {
    tq318::Simulator& sim = add_sim();
    const std::string p = package(standard()).string();
    const std::vector<std::pair<Args, std::string>> cases{
        {{"repair-firmware", p}, "--disk is required without --wait: the mode code"},
        {{"repair-firmware", p, "--disk", "c"}, "disk must be a or b"},
        {{"repair-firmware", p, "--disk", "a", "--on-full-disk", "maybe"}, "answer yes or no"},
        {{"repair-os"}, "IMAGE is required"},
        {{"wait", "--timeout", "0"}, "--timeout"},
        {{"--port", sim.device_path(), "repair-firmware", p, "--disk", "a"}, "twice"},
        {{"--port", "COM0", "repair-firmware", p, "--disk", "a"}, "not a COM number"},
    };
    sim.clear_received_lines();
    for (const auto& [args, text] : cases) {
        const Result r = tovctl({sim.device_path()}, args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    }
    EXPECT_TRUE(sim.received_lines().empty());
}

// A port whose child cannot do its work fails alone; the other is verified.
TEST_F(TovctlRepair, ChildThatCannotRepairIsAFailureForItsPortAlone) {
    tq318::Simulator& sim = add_sim();
    const Result r = tovctl({sim.device_path(), "/dev/ttyNOSUCH0"},
                            {"repair-firmware", package(standard()).string(), "--disk", "a"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(sim.files('a').size(), 3u);
    const auto row = r.out.find("\n/dev/ttyNOSUCH0 ");
    ASSERT_NE(row, std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" failed ", row), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("exit 3", row), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("/dev/ttyNOSUCH0: tovctl: cannot open"), std::string::npos) << r.err;
}

// An OS repair is verified only by the controller's own words: a report
// without the image's CRC, or an answer to "bios1" other than a finished
// install, fails with that text shown, and the record says "failed".
TEST_F(TovctlRepair, OsRepairFailsOnEveryAnswerButAFinishedInstall) {
    struct Case { std::string report, bios1, shown; };
    const std::vector<Case> cases{
        {"", "\r\nFlash write error, image NOT installed\r\nTQ318-5314A>", "Flash write error, image NOT installed"},
        {"\r\nImage rejected: bad blocks\r\nTQ318-5314A>", "", "Image rejected: bad blocks"},
        {"\r\nImage received, 12 bytes, CRC16=00000\r\nTQ318-5314A>", "", "CRC16=00000"}};
    const fs::path image = temp_ / "os.img";
    testing_support::write_file(image, random_bytes(3000, 9));
    for (const Case& c : cases) {
        sims_.clear();
        tq318::Simulator& sim = add_sim();
        tq318::Faults faults;
        if (!c.report.empty()) faults.upload_report = c.report;
        if (!c.bios1.empty()) faults.bios1_answer = c.bios1;
        sim.set_faults(faults);
        const Result r = tovctl({sim.device_path()}, {"repair-os", image.string()});
        EXPECT_NE(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.out.find("Upgrade Successed."), std::string::npos) << r.out;
        EXPECT_NE((r.out + r.err).find(c.shown), std::string::npos) << r.out << r.err;
        EXPECT_NE((r.out + r.err).find("OS Upgrade Failed!!"), std::string::npos) << r.out << r.err;
        EXPECT_FALSE(sim.image_installed());
    }
    const auto records = json_lines(tovctl({}, {"--json", "history"}).out);
    ASSERT_EQ(records.size(), cases.size());
    for (const Json& rec : records) EXPECT_EQ(rec.value("outcome", ""), "failed") << rec;
}

// Several --port options, numbers and paths mixed, with the mapping file and
// UART_COM<N>: every controller is repaired through the device its own
// argument names, and its record names that device.
TEST_F(TovctlRepair, MixedPortsEachRepairTheirOwnController) {
    struct Mix { const char* name; std::vector<std::string> ports; std::string mapping; std::string variable; };
    // "{A}" and "{B}" stand for the two simulators' devices.
    const std::vector<Mix> mixes{
        {"number_then_path", {"1", "{B}"}, "COM1={A}\n", ""},
        {"path_then_number", {"{B}", "COM1"}, "COM1={A}\n", ""},
        {"variable_number_then_path", {"2", "{B}"}, "", "UART_COM2={A}"},
        {"numbers_from_the_file", {"1", "2"}, "COM1={A}\nCOM2={B}\n", ""},
        {"paths", {"{A}", "{B}"}, "", ""},
        {"path_then_number_both_in_file", {"{B}", "1"}, "COM1={A}\nCOM2={B}\n", ""}};
    const auto members = standard();
    const fs::path p = package(members);
    for (const Mix& mix : mixes) {
        SCOPED_TRACE(mix.name);
        sims_.clear();
        fs::remove_all(temp_ / "state");
        const std::string a = add_sim().device_path(), b = add_sim().device_path();
        auto with_devices = [&](std::string text) {
            for (std::size_t at; (at = text.find("{A}")) != std::string::npos;) text.replace(at, 3, a);
            for (std::size_t at; (at = text.find("{B}")) != std::string::npos;) text.replace(at, 3, b);
            return text;
        };
        Args ports;
        for (const auto& port : mix.ports) ports.push_back(with_devices(port));
        const fs::path config = temp_ / "config";
        fs::remove_all(config);
        fs::create_directories(config / "tq318");
        if (!mix.mapping.empty()) testing_support::write_file(config / "tq318" / "ports", with_devices(mix.mapping));
        Args env{"XDG_CONFIG_HOME=" + config.string()};
        if (!mix.variable.empty()) env.push_back(with_devices(mix.variable));
        const Result r = tovctl(ports, {"repair-firmware", p.string(), "--disk", "a"}, env);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        for (int i = 0; i < 2; ++i) {
            for (const auto& [name, bytes] : members) EXPECT_TRUE(holds(sims_[i]->files('a'), name, bytes)) << i << name;
        }
        std::vector<std::string> recorded;
        for (const Json& rec : json_lines(tovctl({}, {"--json", "history"}, env).out)) {
            EXPECT_EQ(rec.value("outcome", ""), "verified") << rec;
            recorded.push_back(rec.value("device", ""));
        }
        std::sort(recorded.begin(), recorded.end());
        std::vector<std::string> expected{a, b};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(recorded, expected);
    }
}

// Two arguments naming one device are refused before anything is sent.
TEST_F(TovctlRepair, TwoPortsNamingOneDeviceAreRefused) {
    tq318::Simulator& sim = add_sim();
    const fs::path config = temp_ / "config";
    fs::create_directories(config / "tq318");
    testing_support::write_file(config / "tq318" / "ports", "COM1=" + sim.device_path() + "\n");
    const Result r = tovctl({"1", sim.device_path()}, {"repair-firmware", package(standard()).string(), "--disk", "a"},
                            {"XDG_CONFIG_HOME=" + config.string()});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("name the same device"), std::string::npos) << r.err;
    EXPECT_TRUE(sim.received_lines().empty());
}

namespace {

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

// A late answer to one line must not be read as the next command's reply: on
// slow lines the free-space probe still reads its own listing, the members
// go to the disk asked for with "loadb", and they are verified there.
// The line's answer delay is learnt from the first question: every later
// wait is sized by it.
TEST_F(TovctlRepair, SlowRepliesStillLoadToTheDiskAskedFor) {
    for (const std::uint32_t delay : {5u, 100u, 250u, 500u}) {
        SCOPED_TRACE("reply delay " + std::to_string(delay) + " ms");
        tq318::Simulator& sim = add_sim();
        tq318::Faults f;
        f.reply_delay_ms = delay;
        sim.set_faults(f);
        const auto members = standard();
        const Result r = tovctl({sim.device_path()}, {"repair-firmware", package(members).string(), "--disk", "b"});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        for (const auto& [name, bytes] : members) EXPECT_TRUE(holds(sim.files('b'), name, bytes)) << name;
        EXPECT_TRUE(sim.files('a').empty());
        EXPECT_FALSE(has_line(sim.received_lines(), "loadfirmware"));
    }
}

// When the free-space probe fails the controller picks the disk itself; if it
// picks another disk than the one asked for, the repair says so and fails.
TEST_F(TovctlRepair, MembersOnAnotherDiskThanAskedAreNoSuccess) {
    tq318::Simulator& sim = add_sim();  // mode code MS: "loadfirmware" stores on disk A
    tq318::Faults f;
    f.mute_commands = {"dir"};
    sim.set_faults(f);
    // The listing that verifies is answered again once the downloads have begun.
    std::thread answer_dir_again([&sim] {
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (!has_line(sim.received_lines(), "loadfirmware") && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(5ms);
        sim.set_faults(tq318::Faults{});
    });
    const Result r = tovctl({sim.device_path()}, {"repair-firmware", package(standard()).string(), "--disk", "b"});
    answer_dir_again.join();
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("members stored on disk A by the controller, not on disk B as asked"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Verified"), std::string::npos) << r.out;
    EXPECT_FALSE(sim.files('a').empty());
}
