// tovctl's repairs end to end: the built program against simulated
// controllers on real ptys. One table of single-port runs (a row per exit
// code and per text tovctl owns), then several ports at once, port naming and
// `wait`. Stops are in stop_test.cpp.
#include <openssl/evp.h>

#include <algorithm>
#include <optional>

#include "spawn.h"

namespace {

using namespace tovctl_test;
using testing_support::write_file;
using Lines = std::vector<std::string>;

std::string sha256_hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < length; ++i) hex += (std::snprintf(two, sizeof two, "%02x", digest[i]), two);
    return hex;
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

// One run against one controller. In `args`, "{P}" is the row's package,
// "{D}" the controller's device and "{T}" this test's folder.
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
    const char* port = "{D}";
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
    // Every line a second late, one member two blocks long: the shortest wait
    // for a stored file is sized by the line too.
    {"a_second_late_line", {"repair-firmware", "{P}", "--disk", "b"}, 0, {"Verified: 3 member(s) listed on disk b"},
     std::nullopt, "verified", {}, [](auto& f) { f.reply_delay_ms = 1000; },
     {{"tq318.exe", std::string(30000, 'p')}, {"cfg.dat", std::string(300, 'c')}, {"web.bin", std::string(20000, 'w')}},
     'b'},
    // Refused before the device was touched: exit 4 (3 for a port), not one console line.
    {"not_a_cabinet", {"repair-firmware", "{T}/junk.hex", "--disk", "a"}, 4, {"!!\n  not a cabinet archive"}, Lines{},
     "failed"},
    {"missing", {"repair-firmware", "{T}/missing.hex", "--disk", "a"}, 4, {"!!\n  not found"}, Lines{}, "failed"},
    {"os_empty", {"repair-os", "{T}/empty.img"}, 4, {"!!\n  the image is empty (0 bytes)"}, Lines{}, "failed"},
    {"port_not_opened", {"repair-firmware", "{P}", "--disk", "a"}, 3, {"cannot open /dev/null: not a serial device"},
     Lines{}, "failed", {}, {}, {}, 0, false, "/dev/null"},
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
};

void PrintTo(const RepairRun& run, std::ostream* os) { *os << run.name; }

class Runs : public Bench, public ::testing::WithParamInterface<RepairRun> {};

TEST_P(Runs, Row) {
    const RepairRun& run = GetParam();
    tq318::Simulator& sim = add_sim(run.options);
    const Members members = run.members.empty() ? standard() : run.members;
    const std::string p = package(members).string();
    write_file(temp_ / "junk.hex", random_bytes(3000, 6));
    write_file(temp_ / "empty.img", "");
    write_file(temp_ / "os.img", random_bytes(3000, 9));
    if (run.noRecordFolder) write_file(temp_ / "state", "in the way");
    auto fill = [&](std::string a) {
        if (a == "{P}") return p;
        if (a == "{D}") return sim.device_path();
        return a.starts_with("{T}") ? temp_.path().string() + a.substr(3) : a;
    };
    Args args;
    for (const auto& a : run.args) args.push_back(fill(a));
    tq318::Faults faults;
    if (run.faults) run.faults(faults);
    sim.set_faults(faults);
    sim.clear_received_lines();
    const Result r = tovctl({fill(run.port)}, args);
    const std::string all = r.out + r.err;

    EXPECT_EQ(r.status, run.status) << all;
    for (const auto& text : run.said) {
        const auto at = all.find(text);
        EXPECT_NE(at, std::string::npos) << text << " in " << all;
        if (run.status == 0) {
            EXPECT_EQ(all.find(text, at + 1), std::string::npos) << text << " twice in " << all;
        }
    }
    if (run.status != 0) {
        EXPECT_EQ(all.find("Verified"), std::string::npos) << all;
        EXPECT_EQ(all.find("Upgrade Successed."), std::string::npos) << all;
    }
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
        // A refused run keeps its reason, and `history` shows it with the whole path.
        if (run.status >= 3) {
            const std::string refusal =
                run.status == 4 ? run.said[0].substr(5) : "the port " + std::string(run.port) + " could not be opened";
            EXPECT_FALSE(recs[0].value("deviceTouched", true));
            EXPECT_NE(recs[0].value("refusal", "").find(refusal), std::string::npos) << recs[0].dump();
            const std::string shown = tovctl({}, {"history"}).out;
            EXPECT_NE(shown.find(fill(run.args[1]) + "  failed  refused before the device was touched: " + refusal),
                      std::string::npos) << shown;
        }
    }
    EXPECT_TRUE(fs::is_empty(temp_ / "work"));
}

INSTANTIATE_TEST_SUITE_P(Table, Runs, ::testing::ValuesIn(kRuns), [](const auto& i) { return std::string(i.param.name); });

class TovctlRepair : public Bench {};

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
    EXPECT_TRUE(holds(sim, 'a', members) && sim.files('b').empty());
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
    EXPECT_NE(text.out.find(p.string() + "  verified  3/3 members loaded"), std::string::npos) << text.out;
}

// Five ports by one command: a silent controller, one that refuses every
// block and a device that cannot be opened fail alone; the summary has a row
// per port. Each port shows its run's lines as a run alone shows them, and
// the JSON form names the port in every event.
TEST_F(TovctlRepair, SeveralPortsFailAlone) {
    Args ports;
    for (int i = 0; i < 4; ++i) ports.push_back(add_sim().device_path());
    ports.push_back("/dev/ttyNOSUCH0");
    tq318::Faults silent, nak;
    silent.silent = true, nak.nak_rate = 1.0;
    sims_[2]->set_faults(silent), sims_[1]->set_faults(nak);
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
    ports.resize(2);
    sims_[1]->set_faults({});
    for (const Args& command : {Args{"repair-firmware", p.string(), "--disk", "a"}, Args{"repair-os", p.string()}}) {
        auto lines_of = [](const std::string& out, const std::string& prefix) {
            Lines lines;
            std::istringstream in(out);
            for (std::string line; std::getline(in, line);)
                if (line.starts_with(prefix)) lines.push_back(line.substr(prefix.size()));
            return lines;
        };
        const Result alone = tovctl({ports[0]}, command), both = tovctl(ports, command);
        ASSERT_EQ(alone.status, 0) << alone.out << alone.err;
        EXPECT_EQ(lines_of(alone.out, "Loading 1 of ").size(), 1u) << alone.out;  // what a live line is drawn from
        ASSERT_EQ(both.status, 0) << both.out << both.err;
        for (const auto& port : ports) EXPECT_EQ(lines_of(both.out, port + ": "), lines_of(alone.out, "")) << both.out;
    }
    const auto lines = json_lines(tovctl(ports, {"--json", "repair-firmware", p.string(), "--disk", "a"}).out);
    ASSERT_FALSE(lines.empty());
    for (std::size_t k = 0; k + 1 < lines.size(); ++k) EXPECT_TRUE(lines[k].contains("port")) << lines[k];
    EXPECT_EQ(lines.back().value("event", ""), "summary");
    EXPECT_EQ(lines.back().value("ok", false), true);
    EXPECT_EQ(lines.back()["ports"].size(), 2u);
    // A package refused is refused for every port before any is touched.
    for (auto& s : sims_) s->clear_received_lines();
    const fs::path blank = package({{"tq318.exe", random_bytes(900, 4)}, {"my file.bin", "x"}});
    const Result refused = tovctl(ports, {"repair-firmware", blank.string(), "--disk", "a"});
    EXPECT_EQ(refused.status, 4);
    EXPECT_NE(refused.err.find("the member name \"my file.bin\" is refused"), std::string::npos) << refused.err;
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
            for (std::size_t at; (at = text.find_first_of("{")) != std::string::npos;) text.replace(at, 3, text[at + 1] == 'A' ? a : b);
            return text;
        };
        SCOPED_TRACE(with_devices(mix.mapping + mix.variable));
        Args ports;
        for (const auto& port : mix.ports) ports.push_back(with_devices(port));
        const fs::path config = temp_ / "config";
        fs::remove_all(config);
        fs::create_directories(config / "tq318");
        write_file(config / "tq318" / "ports", with_devices(mix.mapping));
        Args more{"XDG_CONFIG_HOME=" + config.string()};
        if (!mix.variable.empty()) more.push_back(with_devices(mix.variable));
        const Result r = tovctl(ports, {"repair-firmware", p.string(), "--disk", "a"}, more);
        EXPECT_EQ(r.status, mix.status) << r.out << r.err;
        if (mix.status == 2) {
            EXPECT_NE(r.err.find("name the same device"), std::string::npos) << r.err;
            EXPECT_TRUE(sims_[0]->received_lines().empty());
            continue;
        }
        Lines recorded;
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
            continue;
        }
        const Result v = tovctl({sim.device_path()}, {"ver"});  // the restart after this open comes long after
        EXPECT_NE(v.out.find("Version: Tovrane 1.23 build 003 (123003)"), std::string::npos) << v.out << v.err;
    }
}

}  // namespace
