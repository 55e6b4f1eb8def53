// Repair records: what one holds, how it is written, kept and read back.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "temp_dir.h"
#include "tq318/repair/record.h"
#include "tq318/repair/record_reader.h"

// Records name only the fields they set (designated initializers); the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;
using tq318::repair::Outcome;

// Latin-1 bytes in the names, as from files.
Outcome firmwareOutcome() {
    return {.path = "/bench/caf\xE9.hex", .sha256 = std::string(64, 'a'),
            .members = {{"tq318.exe", 5000, std::string(64, 'b'), true, 0}, {"men\xFC.bin", 700, std::string(64, 'c'), true, 46}},
            .disk = 'a', .loadMode = 0, .verification = {true, false, 0, {"men\xFC.bin: missing"}}, .deviceTouched = true,
            .messages = {"Firmware verify failure.\r\nmen\xFC.bin: missing"}, .failureText = "Firmware Upgrade Failed!!"};
}

tq318::repair::RecordContext context(std::chrono::system_clock::time_point ended) {
    return {.frontEnd = "tovctl", .kind = "firmware", .port = 3, .device = "/dev/ttyUSB0",
            .banner = "HALVERN Tovrane 1.2 MS", .modeCode = "MS", .started = ended - 90s, .ended = ended};
}

class Records : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_STATE_HOME", state.path().c_str(), 1); }
    fs::path folder() const { return state.path() / "tq318" / "repairs"; }
    TempDir state;
};

TEST_F(Records, WrittenPrivatelyAndReadBackWithEveryField) {
    const auto when = std::chrono::system_clock::from_time_t(1796644800);  // 2026-12-07T12:00:00Z
    ASSERT_EQ(tq318::repair::recordFolder(), folder());
    ASSERT_FALSE(tq318::repair::writeRecord(context(when), firmwareOutcome()));

    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder())) files.push_back(e.path());
    ASSERT_EQ(files.size(), 1u);  // no temporary file left beside it
    EXPECT_TRUE(tq318::repair::isRecordFileName(files[0].filename().string())) << files[0];
    EXPECT_EQ(fs::status(files[0]).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(folder()).permissions() & fs::perms::all, fs::perms::owner_all);

    const auto listing = tq318::repair::listRecords(folder(), 10);
    ASSERT_EQ(listing.records.size(), 1u);
    const auto& r = listing.records[0];
    EXPECT_EQ(r["ended"], "2026-12-07T12:00:00.000Z");
    EXPECT_EQ(r["started"], "2026-12-07T11:58:30.000Z");
    EXPECT_EQ(r["path"], "/bench/caf\xC3\xA9.hex");  // Latin-1 turned into UTF-8
    EXPECT_EQ(r["members"][1]["name"], "men\xC3\xBC.bin");
    EXPECT_EQ(r["members"][1]["size"], 700);
    EXPECT_EQ(r["members"][1]["loadCode"], 46);
    EXPECT_EQ(r["verification"]["lines"][0], "men\xC3\xBC.bin: missing");
    EXPECT_EQ(r["disk"], "a");
    EXPECT_EQ(r["failureText"], "Firmware Upgrade Failed!!");
    EXPECT_TRUE(r["updateCode"].is_null());
}

TEST_F(Records, OnlyTheNewestFiveHundredAreKept) {
    const auto base = std::chrono::system_clock::from_time_t(1796644800);
    write_file(state.path() / "keep-me.txt", "");  // not a record: never touched
    fs::create_directories(folder());
    write_file(folder() / "notes.json", "{}");
    for (std::size_t i = 0; i < tq318::repair::kRecordsKept + 3; ++i) {
        ASSERT_FALSE(tq318::repair::writeRecord(context(base + std::chrono::seconds(i)), firmwareOutcome()));
    }
    const auto listing = tq318::repair::listRecords(folder(), 100000);
    ASSERT_EQ(listing.records.size(), tq318::repair::kRecordsKept);
    EXPECT_EQ(listing.records.front()["ended"], "2026-12-07T12:08:22.000Z");  // the newest first (502 s later)
    EXPECT_EQ(listing.records.back()["ended"], "2026-12-07T12:00:03.000Z");   // the three oldest are gone
    EXPECT_TRUE(fs::exists(folder() / "notes.json"));
    EXPECT_EQ(tq318::repair::listRecords(folder(), 2).records.size(), 2u);
}

// What parses as a record: the fields of their kinds, a COM number as the
// port, nesting that is not deep (brackets inside a text are not nesting).
// Damaged ones are skipped in a listing (a deep one not walked) and the others listed.
TEST_F(Records, ParsedOnlyWhenEveryFieldIsOfItsKindAndDamagedOnesSkipped) {
    const std::string head = R"({"started":"x","ended":"x","frontEnd":"x","kind":"x","path":"x","outcome":"x",)"
                             R"("members":[],"port":)";
    const std::string deep = head + "3,\"messages\":" + std::string(200000, '[') + std::string(200000, ']') + "}";
    const std::pair<std::string, bool> cases[] = {
        {head + "3}", true}, {head + "\"3\"}", false}, {head + "-56}", false}, {head + "300}", false},
        {head + "65536}", false}, {deep, false},
        {head + "3,\"messages\":[\"" + std::string(1000, '[') + "\\\"{\"]}", true},
    };
    for (const auto& [text, parses] : cases) EXPECT_EQ(bool(tq318::repair::parseRecord(text)), parses) << text.substr(0, 200);

    const auto base = std::chrono::system_clock::from_time_t(1796644800);
    ASSERT_FALSE(tq318::repair::writeRecord(context(base), firmwareOutcome()));
    ASSERT_FALSE(tq318::repair::writeRecord(context(base + 1s), firmwareOutcome()));
    const std::string damaged[] = {"{\"ended\": \"cut short", "[1, 2, 3]", std::string(tq318::repair::kRecordMaxBytes + 1, ' '), deep};
    for (std::size_t i = 0; i < 4; ++i) write_file(folder() / ("20261207T13000" + std::to_string(i) + ".000Z-1-0.json"), damaged[i]);
    const auto listing = tq318::repair::listRecords(folder(), 10);
    EXPECT_EQ(listing.skipped, 4u);
    ASSERT_EQ(listing.records.size(), 2u);
    EXPECT_EQ(listing.records[0]["ended"], "2026-12-07T12:00:01.000Z");
}

// No place for records: an error text, not an exception, and a planted link
// (as the folder or one level up) is not followed: nothing is made in its target.
TEST_F(Records, NoPlaceIsAnErrorTextAndPlantedLinksAreNotFollowed) {
    TempDir elsewhere;
    ASSERT_EQ(::chmod(elsewhere.path().c_str(), 0755), 0);
    const fs::path top = state.path() / "tq318";
    const std::pair<std::function<void()>, const char*> places[] = {
        {[&] { fs::create_directories(top), fs::create_directory_symlink(elsewhere.path(), folder()); }, "symbolic link"},
        {[&] { fs::create_directory_symlink(elsewhere.path(), top); }, ""},
        {[&] { write_file(top, "a regular file where the folder goes"); }, "tq318"},
    };
    for (const auto& [plant, why] : places) {
        fs::remove_all(top);
        plant();
        const auto error = tq318::repair::writeRecord(context(std::chrono::system_clock::now()), firmwareOutcome());
        ASSERT_TRUE(error) << why;
        EXPECT_NE(error->find(why), std::string::npos) << *error;
        struct stat st {};
        ASSERT_EQ(::stat(elsewhere.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0755u);
        EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    }
    ::unsetenv("XDG_STATE_HOME");
    ::setenv("HOME", state.path().c_str(), 1);
    EXPECT_EQ(tq318::repair::recordFolder(), state.path() / ".local" / "state" / "tq318" / "repairs");
}

}  // namespace
