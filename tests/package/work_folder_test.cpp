#include "work_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "temp_dir.h"

namespace fs = std::filesystem;
using tq318::repair::WorkFolder;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// Sets an environment variable for the scope and puts the old value back.
class EnvVar {
public:
    EnvVar(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvVar() { old_ ? (void)::setenv(name_, old_->c_str(), 1) : (void)::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(WorkFolder, NewPrivateFolderNamedAfterThePackageUnderTempElseTmpdir) {
    TempDir base, other;
    EnvVar temp("TEMP", base.path().string()), tmpdir("TMPDIR", other.path().string());
    auto a = WorkFolder::create("tq318.hex");
    auto b = WorkFolder::create("tq318.hex");
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->path(), b->path()) << "two runs must not share a folder";
    EXPECT_EQ(a->path().parent_path(), base.path());
    EXPECT_EQ(a->path().filename().string().rfind("tq318.", 0), 0u);
    struct stat st {};
    ASSERT_EQ(::lstat(a->path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(fs::is_empty(a->path()));
    EnvVar empty("TEMP", "");
    EXPECT_EQ(tq318::repair::tempFolder(), other.path());
    EnvVar unwritable("TEMP", "/proc/no-such-folder");
    EXPECT_FALSE(WorkFolder::create("tq318.hex"));
}

TEST(WorkFolder, RemovalTakesContentsButNeverFollowsLinks) {
    TempDir base, outside;
    EnvVar temp("TEMP", base.path().string());
    write_file(outside / "precious", "data");
    fs::path where;
    {
        auto folder = WorkFolder::create("pkg.hex");
        ASSERT_TRUE(folder);
        where = folder->path();
        write_file(folder->member("tq318.exe"), "x");
        fs::create_directory(folder->path() / "sub");
        write_file(folder->path() / "sub" / "deep", "y");
        ::chmod((folder->path() / "sub" / "deep").c_str(), 0400);
        fs::create_directory_symlink(outside.path(), folder->path() / "link-out");
        fs::create_symlink(outside / "precious", folder->member("file-link"));
    }  // removed here
    EXPECT_FALSE(fs::exists(where));
    EXPECT_EQ(testing_support::read_file(outside / "precious"), "data");
}

}  // namespace
