// The engine's session, row by row, over a console whose answers each row
// scripts: a fault or a package in, the outcome, the refusal, whether the
// device was touched, the lines sent and the record written out.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "gcab.h"
#include "package_writer.h"
#include "read_back.h"
#include "temp_dir.h"
#include "tq318/repair/session.h"
#include "uart.h"

namespace {

namespace fs = std::filesystem;
namespace repair = tq318::repair;
using Json = nlohmann::json;
using Lines = std::vector<std::string>;

// What the scripted controller does.
struct Script {
    std::set<std::string> hangUpAt{};           // the line is lost: the line hangs up as it is sent
    std::string stopAt{};                     // the front end is stopped as this line goes out
    bool stopFirst = false;                   // the front end is stopped before the session begins
    uint16_t promptCode = 0;                  // TOV_GetPrompt after the deletes
    std::map<std::string, uint16_t> loadCode{}; // by stored name; 0 when absent
    std::map<std::string, uint64_t> stored{};  // by stored name: the size the disk keeps (a short store)
    bool otherDisk = false;                   // the controller stores on the disk not asked for
    uint16_t updateCode = 0;                  // TOV_Update_Tovrane
    std::string updateEvidence = "CRC16=1D0F";  // behind the answer's terminator after a 0
    bool restarts = true;                     // "reset" brings the prompt back
    uint16_t dirCode = 0;                     // the listing's code; no listing unless 0
    std::string probeAnswer = "\r\nTQ318-5314A>";
};

// Every console line and library call as one entry: the line itself, or
// "(prompt)", "(free)", "load <name>", "dir", "upload". Also the front end,
// stopped when the script says so; its pauses take no time.
class ScriptedConsole final : public repair::Console, public repair::FrontEnd {
public:
    void pause(std::chrono::milliseconds) override {}
    bool ended() const override { return stopped; }
    explicit ScriptedConsole(const Script& s) : stopped(s.stopFirst), s_(s) {}
    Lines lines;
    bool stopped;

    uint16_t Send_Cmd(uint8_t, const char* text, int16_t) override {
        if (log(text) && s_.hangUpAt.count(text)) hungUp_ = true;
        if (hungUp_) return UART_ERR_HANGUP;
        if (text[0] == '\0') pending_ = s_.probeAnswer;
        // The deletes: a question for "del"/"delb", the prompt after its "y".
        const std::string_view line = text;
        if (line == "del" || line == "delb") pending_ = "\r\nDelete all files (Y/N)?";
        if (line == "y" || line == "n" || (line == "reset" && s_.restarts)) pending_ = "\r\nTQ318-5314A>";
        return 0;
    }
    uint16_t Receive_Cmd(uint8_t, char* buffer, uint16_t, int16_t flag, uint16_t*) override {
        buffer[0] = '\0';
        if (flag == UART_FLAG_LINE_STATE) return hungUp_ ? UART_ERR_HANGUP : 0;
        std::snprintf(buffer, repair::kTextCapacity, "%s", pending_.c_str());
        pending_.clear();
        return 0;
    }
    uint16_t TOV_GetPrompt(uint8_t, uint16_t, uint8_t) override {
        log("(prompt)");
        return s_.promptCode;
    }
    uint16_t TOV_Get_FreeSize(uint8_t, char, char*, char*) override {
        log("(free)");
        return 0;
    }
    uint16_t TOV_Load_File(uint8_t, const char* path, char disk, const char*, int32_t, char*) override {
        const std::string name = repair::storedName(fs::path(path).filename().string());
        log("load " + name);
        const auto code = s_.loadCode.count(name) ? s_.loadCode.at(name) : uint16_t{0};
        if (code != 0) return code;
        const bool onA = (disk == 'a') != s_.otherDisk;
        (onA ? a_ : b_)[name] = s_.stored.count(name) ? s_.stored.at(name) : fs::file_size(path);
        return 0;
    }
    uint16_t TOV_Update_Tovrane(uint8_t, const char*, char* reply) override {
        log("upload");
        if (s_.updateCode == 0) {
            const std::string answer = "\r\nok\r\nTQ318-5314A>";
            std::memcpy(reply, answer.c_str(), answer.size() + 1);
            std::memcpy(reply + answer.size() + 1, s_.updateEvidence.c_str(), s_.updateEvidence.size() + 1);
        }
        return s_.updateCode;
    }
    int32_t TOV_Get_Tovrane_Version(uint8_t, char*, char* date, char*, int32_t*, char*) override {
        log("ver");
        std::strcpy(date, "Dec/06/2026");
        return 123003;
    }
    uint16_t listDirectory(uint8_t, char* reply, std::size_t capacity) override {
        log("dir");
        if (s_.dirCode != 0) return s_.dirCode;
        const std::string text = "\r\n" + section('A', a_) + "\r\n" + section('B', b_);
        std::snprintf(reply, capacity, "%s", text.c_str());
        return 0;
    }

private:
    // False once the line hung up: nothing more reaches the controller.
    bool log(const std::string& line) {
        lines.push_back(line);
        if (!s_.stopAt.empty() && line == s_.stopAt) stopped = true;
        return !hungUp_;
    }
    static std::string section(char letter, const std::map<std::string, uint64_t>& files) {
        std::string out = std::string("Files in Disk ") + letter + ":\r\n";
        std::size_t i = 0;
        for (const auto& [name, size] : files) {
            std::string line = std::to_string(i++) + ") " + name;
            line.resize(line.find(')') + 41, ' ');
            char hex[24];
            std::snprintf(hex, sizeof hex, "%05llX", static_cast<unsigned long long>(size));
            out += line + hex + "\r\n";
        }
        return out + "Total File number is " + std::to_string(files.size()) + "\r\nFree space: 1000" + (letter == 'B' ? "\r\nTQ318-5314A>" : "");
    }
    const Script& s_;
    bool hungUp_ = false;
    std::string pending_;
    std::map<std::string, uint64_t> a_, b_;
};

// A genuine package (or image), or one changed in one way.
enum class Package { Good, EmptyProgram, NotCabinet, ProgramMissing, DriveName, FoldedName, NoList, NoRecord,
                     RecordChanged, ProgramChanged, ListedMissing, SameStoredName, Fifo, Image, EmptyImage,
                     ImageFifo };
using enum Package;

struct Row {
    const char* name;
    Package package;
    Script script;
    bool probe = false;
    // What must come out.
    const char* outcome;   // the record's "outcome"; "" when no record is written
    const char* refusal;   // a part of the refusal ("" when none)
    bool touched;
    Lines lines;
    const char* verification = "";  // a part of the read-back's difference lines
    const char* says = "";          // a part of the record's messages
};

const Lines kDeletes{"del", "y", "delb", "y"};
Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
const Lines kLoads = kDeletes + Lines{"(prompt)", "(free)", "load tq318.exe", "load web.bin"};
const Lines kAll = kLoads + Lines{"dir", "reset"};
const char *const kHexFile = "HEX file Error !!", *const kHexMember = "HEX File Error !!",
                  *const kAuth = "Firmware authentication verify failure.";

// clang-format off
const std::vector<Row> kRows{
    {"good_package", Good, {}, false, "verified", "", true, kAll},
    {"lost_del", Good, {.hangUpAt = {"del"}}, false, "failed", "", true, {"del"}},
    {"no_prompt_after_the_deletes", Good, {.promptCode = 62}, false, "failed", "", true, kDeletes + Lines{"(prompt)"}},
    {"short_store", Good, {.stored = {{"web.bin", 10}}}, false, "failed", "", true, kAll, "web.bin: size"},
    {"listing_unreadable", Good, {.dirCode = 9}, false, "failed", "", true, kAll, "listing unreadable (code 9)"},
    {"other_disk", Good, {.otherDisk = true}, false, "failed", "", true, kAll, "tq318.exe: missing"},
    {"load_refused", Good, {.loadCode = {{"tq318.exe", 31}}}, false, "failed", "", true, kLoads + Lines{"reset"}, "", "tq318.exe was not loaded (code 31). The disks were emptied before the download"},
    {"empty_program", EmptyProgram, {}, false, "failed", "", false, {}, "", "File size checking Error !! (2)"},
    {"not_a_cabinet", NotCabinet, {}, false, "failed", "cabinet", false, {}, "", kHexFile},
    {"package_is_a_fifo", Fifo, {}, false, "failed", "a FIFO or a device", false, {}, "", kHexFile},
    {"no_list", NoList, {}, false, "failed", "no member list (file.lst)", false, {}, "", kHexFile},
    {"program_missing", ProgramMissing, {}, false, "failed", "is missing", false, {}, "", kHexMember},
    {"no_record", NoRecord, {}, false, "failed", "auth.key is missing", false, {}, "", kHexMember},
    {"listed_member_missing", ListedMissing, {}, false, "failed", "gone.bin is missing", false, {}, "", kHexMember},
    {"record_changed", RecordChanged, {}, false, "failed", "", false, {}, "", kAuth},
    {"program_not_the_recorded_one", ProgramChanged, {}, false, "failed", "", false, {}, "", kAuth},
    {"two_names_one_stored_name", SameStoredName, {}, false, "failed", "stored under the same name", false, {}},
    {"drive_relative_member", DriveName, {}, false, "failed", "\"Z:victim.txt\" is refused (it names the drive", false, {}},
    {"member_windows_folds", FoldedName, {}, false, "failed", "\"web.bin.\" is refused (Windows drops", false, {}},
    {"stop_during_the_deletes", Good, {.stopAt = "y"}, false, "abandoned", "", true, {"del", "y", ""}},
    {"stop_during_a_load", Good, {.stopAt = "load tq318.exe"}, false, "abandoned", "", true, kDeletes + Lines{"(prompt)", "(free)", "load tq318.exe", ""}, "", "the disks were emptied before the download and hold 1 of 2 members: the repair must be repeated"},
    {"stop_during_the_last_load", Good, {.stopAt = "load web.bin"}, false, "abandoned", "", true, kLoads + Lines{""}},
    {"stop_during_the_listing", Good, {.stopAt = "dir"}, false, "abandoned", "", true, kLoads + Lines{"dir", ""}},
    {"password_at_the_probe", Good, {.probeAnswer = "\r\npassword:"}, true, "failed", "", true, {""}},
    {"probe_then_good_package", Good, {}, true, "verified", "", true, Lines{""} + kAll},
    {"os_image", Image, {}, false, "verified", "", true, {"upload", "reset", "ver"}},
    {"os_report_without_crc", Image, {.updateEvidence = ""}, false, "unproven", "", true, {"upload", "reset", "ver"}},
    {"os_no_restart", Image, {.restarts = false}, false, "failed", "", true, {"upload", "reset"}},
    {"os_refused_by_the_controller", Image, {.updateCode = 39}, false, "failed", "", true, {"upload", "reset"}},
    {"os_stop_during_the_upload", Image, {.stopAt = "upload", .updateCode = 71}, false, "abandoned", "", true, {"upload", ""}},
    {"os_stop_after_the_install", Image, {.stopAt = "upload"}, false, "abandoned", "", true, {"upload", ""}, "", "the controller had installed the image before the stop, but was not restarted"},
    {"os_stop_at_once", Image, {.stopFirst = true}, false, "abandoned", "", false, {}},
    {"os_image_is_a_fifo", ImageFifo, {}, false, "failed", "a FIFO or a device", false, {}, "", "File not found !!"},
    {"os_empty_image", EmptyImage, {}, false, "failed", "empty", false, {}},
};
// clang-format on

class EngineTable : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override { ::setenv("XDG_STATE_HOME", (dir_ / "state").c_str(), 1); }

    // The package (or image) of the row, and the request for it.
    repair::SessionRequest request(Package kind) {
        repair::SessionRequest r;
        r.frontEnd = "test";
        r.firmware = kind < Image;
        r.firmwareRequest.modeCode = "MS";
        r.firmwareRequest.disk = 'a';
        r.firmwareRequest.packageBareName = "tq318.hex";
        const fs::path members = dir_ / "members";
        fs::create_directories(members);
        std::mt19937 random(7);
        auto write = [&](const fs::path& p, std::size_t size) {
            std::ofstream out(p, std::ios::binary);
            for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(random()));
        };
        const fs::path file = dir_ / (r.firmware ? "tq318.hex" : "os.img");
        if (kind == Image || kind == EmptyImage) {
            write(file, kind == Image ? 3000 : 0);
        } else if (kind == NotCabinet) {
            write(file, 100);
        } else if (kind == Fifo || kind == ImageFifo) {
            ::mkfifo(file.c_str(), 0600);
        } else {
            write(members / "tq318.exe", kind == EmptyProgram ? 0 : 4000);
            write(members / "web.bin", 1500);
            if (kind == DriveName) write(members / "Z:victim.txt", 100);
            if (kind == FoldedName) write(members / "web.bin.", 100);
            if (kind == SameStoredName) write(members / "A_web_file.bin", 10), write(members / "web_file.bin", 20);
            EXPECT_EQ(make_package::write_package({members, file, "", true}), "");
            // The other changes are made to the genuine package's files, then packed again.
            Lines names{"tq318.exe", "web.bin", "auth.key", "file.lst"};
            if (kind == NoList || kind == NoRecord) names.erase(names.begin() + (kind == NoList ? 3 : 2));
            if (kind == RecordChanged) {
                std::string record = testing_support::read_file(members / "auth.key");
                record[10] ^= 1;
                testing_support::write_file(members / "auth.key", record);
            }
            if (kind == ProgramChanged) write(members / "tq318.exe", 4000);
            if (kind == ListedMissing) std::ofstream(members / "file.lst", std::ios::app) << "gone.bin\r\n";
            if (kind >= NoList && kind <= ListedMissing) {
                EXPECT_TRUE(testing_support::gcab_pack(members, file, names, true));
            }
        }
        if (kind == ProgramMissing) r.firmwareRequest.packageBareName = "other.hex";
        r.firmwareRequest.packagePath = file.string();
        r.osRequest.imagePath = file.string();
        r.osRequest.restartLimit = std::chrono::milliseconds(300);
        return r;
    }

    std::vector<Json> records() const {
        std::vector<Json> out;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir_ / "state" / "tq318" / "repairs", ec))
            out.push_back(Json::parse(std::ifstream(e.path())));
        return out;
    }

    testing_support::TempDir dir_;
};

TEST_P(EngineTable, Row) {
    const Row& row = GetParam();
    repair::SessionRequest r = request(row.package);
    ScriptedConsole console(row.script);
    if (row.probe) r.probe = std::chrono::milliseconds(200);
    r.stopCause = [&console] { return console.stopped ? std::string("stopped by SIGINT") : std::string(); };
    const repair::CheckedPackage checked = r.firmware ? repair::checkPackage(r.firmwareRequest)
                                                      : repair::checkImage(r.osRequest);
    const repair::SessionResult result = repair::runSession(r, checked, console, console);
    const repair::Outcome& o = result.outcome;

    EXPECT_EQ(console.lines, row.lines);
    EXPECT_EQ(o.deviceTouched, row.touched);
    EXPECT_EQ(checked.accepted(), row.touched || row.script.stopFirst);
    if (*row.refusal) {
        EXPECT_NE(o.refusal.find(row.refusal), std::string::npos) << o.refusal;
    } else if (!row.touched) {
        EXPECT_FALSE(o.messages.empty());  // what refused it was shown
    } else {
        EXPECT_EQ(o.refusal, "");
    }
    const auto recs = records();
    ASSERT_EQ(recs.size(), 1u);
    const Json& rec = recs[0];
    EXPECT_EQ(rec.value("outcome", ""), row.outcome);
    EXPECT_EQ(rec.value("deviceTouched", !row.touched), row.touched);
    EXPECT_EQ(rec.value("kind", ""), r.firmware ? "firmware" : "os");
    EXPECT_EQ(rec.value("frontEnd", ""), "test");
    EXPECT_EQ(rec.value("path", ""), r.firmware ? r.firmwareRequest.packagePath : r.osRequest.imagePath);
    // Success only with the controller's proof behind it.
    std::string differences;
    for (const auto& l : o.verification.lines) differences += l + "\n";
    if (std::string(row.outcome) == "verified") {
        EXPECT_TRUE(rec["verification"].value("attempted", false) && rec["verification"].value("passed", false))
            << differences;
    }
    EXPECT_NE(differences.find(row.verification), std::string::npos) << differences;
    EXPECT_NE(rec["messages"].dump().find(row.says), std::string::npos) << rec["messages"].dump();
    if (!row.script.stopAt.empty() || row.script.stopFirst) {
        EXPECT_NE(result.stopText.find("stopped by SIGINT"), std::string::npos);
        EXPECT_EQ(rec["messages"].back().get<std::string>(), result.stopText);
    }
    if (row.probe && std::string(row.outcome) == "failed") {
        EXPECT_NE(result.problem.find("password"), std::string::npos) << result.problem;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, EngineTable, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
