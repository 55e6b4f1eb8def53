// Cabinet extraction on real archives made by gcab.
#include "cab_extract.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "gcab.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using tq318::repair::CabLimits;
using tq318::repair::extractFileFromCab;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

void make_cab(const fs::path& archive, const fs::path& folder, const std::vector<std::string>& names,
              bool compress) {
    ASSERT_TRUE(testing_support::gcab_pack(folder, archive, names, compress)) << "gcab failed";
}

std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

class Cabinet : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        fs::create_directory(tmp / "in");
        fs::create_directory(tmp / "out");
        members = {{"file.lst", "tq318.exe\r\nauth.key\r\n"},
                   {"tq318.exe", random_bytes(200000, 1)},
                   {"auth.key", random_bytes(50, 2)},
                   {"zero.bin", ""}};
        std::vector<std::string> names;
        for (auto& [name, bytes] : members) {
            write_file(tmp / "in" / name, bytes);
            names.push_back(name);
        }
        make_cab(archive, tmp / "in", names, GetParam());
    }
    TempDir tmp;
    fs::path archive = tmp / "tq318.hex";
    std::map<std::string, std::string> members;
};

TEST_P(Cabinet, EveryMemberComesOutByteIdentical) {
    for (auto& [name, bytes] : members) {
        const fs::path dest = tmp / "out" / name;
        ASSERT_TRUE(extractFileFromCab(archive.string(), "@" + name, dest.string(), 1, "")) << name;
        EXPECT_EQ(read_file(dest), bytes) << name;
        struct stat st {};
        ASSERT_EQ(::stat(dest.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST_P(Cabinet, MissingMemberAndWrongCaseExtractNothing) {
    EXPECT_FALSE(extractFileFromCab(archive.string(), "@nothere", (tmp / "out/nothere").string(), 1, ""));
    EXPECT_FALSE(fs::exists(tmp / "out/nothere"));
    EXPECT_FALSE(extractFileFromCab(archive.string(), "@AUTH.KEY", (tmp / "out/AUTH.KEY").string(), 1, ""));
    EXPECT_FALSE(fs::exists(tmp / "out/AUTH.KEY"));
}

TEST_P(Cabinet, DestinationThatIsALinkIsNotFollowed) {
    const fs::path victim = tmp / "victim";
    write_file(victim, "keep me");
    fs::create_symlink(victim, tmp / "out/auth.key");
    EXPECT_FALSE(extractFileFromCab(archive.string(), "@auth.key", (tmp / "out/auth.key").string(), 1, ""));
    EXPECT_EQ(read_file(victim), "keep me");
    EXPECT_TRUE(fs::is_symlink(tmp / "out/auth.key"));
}

TEST_P(Cabinet, CorruptedArchiveFailsCleanly) {
    std::string bytes = read_file(archive);
    // Damage one byte of the data area (past the headers): the block
    // checksum or the decoder must catch it.
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x01);
    write_file(archive, bytes);
    const fs::path dest = tmp / "out/tq318.exe";
    EXPECT_FALSE(extractFileFromCab(archive.string(), "@tq318.exe", dest.string(), 1, ""));
    EXPECT_FALSE(fs::exists(dest)) << "a damaged member was left behind";
}

TEST_P(Cabinet, TruncatedAndGarbageArchivesFailCleanly) {
    const std::string bytes = read_file(archive);
    write_file(archive, bytes.substr(0, bytes.size() / 3));
    EXPECT_FALSE(extractFileFromCab(archive.string(), "@tq318.exe", (tmp / "out/x").string(), 1, ""));
    write_file(archive, random_bytes(5000, 7));
    EXPECT_FALSE(extractFileFromCab(archive.string(), "@file.lst", (tmp / "out/y").string(), 1, ""));
    EXPECT_FALSE(extractFileFromCab((tmp / "no-such.hex").string(), "@file.lst", (tmp / "out/z").string(), 1, ""));
    EXPECT_FALSE(fs::exists(tmp / "out/x"));
    EXPECT_FALSE(fs::exists(tmp / "out/y"));
}

TEST_P(Cabinet, LimitsRefuseOversizedPackages) {
    CabLimits few;
    few.maxMembers = 3;
    EXPECT_FALSE(extractFileFromCab(archive.string(), "@auth.key", (tmp / "out/a").string(), 1, "", few));
    CabLimits small;
    small.maxTotalBytes = 100000;
    EXPECT_FALSE(extractFileFromCab(archive.string(), "@auth.key", (tmp / "out/b").string(), 1, "", small));
    EXPECT_FALSE(fs::exists(tmp / "out/a"));
    EXPECT_FALSE(fs::exists(tmp / "out/b"));
    CabLimits enough;
    enough.maxMembers = 4;
    enough.maxTotalBytes = 200100;
    EXPECT_TRUE(extractFileFromCab(archive.string(), "@auth.key", (tmp / "out/c").string(), 1, "", enough));
}

INSTANTIATE_TEST_SUITE_P(StoredAndCompressed, Cabinet, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "mszip" : "stored"; });

}  // namespace
