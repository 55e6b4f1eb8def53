// Cabinet extraction on real archives made by gcab.
#include "cab_extract.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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
        ASSERT_TRUE(testing_support::gcab_pack(tmp / "in", archive, names, GetParam())) << "gcab failed";
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

// Each refusal writes nothing: a member not there or named in another case,
// a flipped data byte (the block checksum or the decoder catches it), a cut
// or garbage archive, a missing one, and the limits on members and bytes.
TEST_P(Cabinet, RefusedExtractionsWriteNothing) {
    enum Damage { None, FlipMiddle, Cut, Garbage, Gone };
    const struct { Damage damage; const char* member; CabLimits limits; } rows[] = {
        {None, "nothere", {}}, {None, "AUTH.KEY", {}}, {FlipMiddle, "tq318.exe", {}}, {Cut, "tq318.exe", {}},
        {Garbage, "file.lst", {}}, {Gone, "file.lst", {}}, {None, "auth.key", {.maxMembers = 3}},
        {None, "auth.key", {.maxTotalBytes = 100000}},
    };
    const std::string bytes = read_file(archive);
    for (const auto& row : rows) {
        std::string changed = bytes;
        if (row.damage == FlipMiddle) changed[bytes.size() / 2] ^= 0x01;
        if (row.damage == Cut) changed.resize(bytes.size() / 3);
        if (row.damage == Garbage) changed = random_bytes(5000, 7);
        write_file(archive, changed);
        if (row.damage == Gone) fs::remove(archive);
        const fs::path dest = tmp / "out" / row.member;
        EXPECT_FALSE(extractFileFromCab(archive.string(), std::string("@") + row.member, dest.string(), 1, "", row.limits))
            << row.damage << " " << row.member;
        EXPECT_FALSE(fs::exists(dest)) << row.damage << " " << row.member;
    }
    write_file(archive, bytes);  // the limits that just fit
    EXPECT_TRUE(extractFileFromCab(archive.string(), "@auth.key", (tmp / "out/c").string(), 1, "", {4, 200100}));
    // A destination that is a link is not followed.
    write_file(tmp / "victim", "keep me");
    fs::create_symlink(tmp / "victim", tmp / "out/auth.key");
    EXPECT_FALSE(extractFileFromCab(archive.string(), "@auth.key", (tmp / "out/auth.key").string(), 1, ""));
    EXPECT_EQ(read_file(tmp / "victim"), "keep me");
    EXPECT_TRUE(fs::is_symlink(tmp / "out/auth.key"));
}

INSTANTIATE_TEST_SUITE_P(StoredAndCompressed, Cabinet, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "mszip" : "stored"; });

}  // namespace
