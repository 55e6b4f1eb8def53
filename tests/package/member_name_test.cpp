// Every name rule, one row each: the names a package lists, the work
// folder's path length and the platform's limits in; the refusal out.
#include "member_name.h"

#include <gtest/gtest.h>

namespace {

using tq318::repair::memberNamesProblem;
using tq318::repair::PathLimits;

constexpr PathLimits kLinux{255, 4095};
constexpr PathLimits kWindows{255, 259};  // MAX_PATH without its terminating zero

struct Row {
    std::vector<std::string> names;
    std::string why;  // a part of the refusal; empty: accepted
    PathLimits limits = kLinux;
    std::size_t folder = 48;  // the work folder's path length
};

TEST(MemberName, EveryRuleOnBytes) {
    const std::string drive = ", so it would be unpacked outside the work folder)";
    const std::string folder = "(it names a folder" + drive;
    const std::string trailing = "(Windows drops a trailing dot or blank: it would be unpacked under another name)";
    const std::vector<Row> rows{
        {{"tq318.exe", "web.bin", "file.lst", "auth.key"}, ""},
        {{"..hidden", "a..b", " leading", ".exe", "my file.bin", "COM0", "COM10", "CONSOLE", "xcon", "web.bin", ""}, ""},
        {{"/etc/passwd"}, folder}, {{"../x"}, folder}, {{"a/b"}, folder}, {{"a\\b"}, folder}, {{"\\x"}, folder},
        {{"\\\\server\\share\\x"}, folder}, {{"C:\\x"}, folder}, {{"."}, folder}, {{".."}, folder},
        {{"Z:victim.txt"}, "\"Z:victim.txt\" is refused (it names the drive Z:" + drive},
        {{std::string("a\0b", 3)}, "\"a\\x00b\" is refused (a control character)"},
        {{"a\x1b[2Jb"}, "\"a\\x1B[2Jb\" is refused (a control character)"}, {{"tab\t"}, "(a control character)"},
        {{"a<b"}, "(Windows forbids the character < in a file name)"}, {{"a>b"}, "character >"},
        {{"a\"b"}, "character \""}, {{"a|b"}, "character |"}, {{"a?b"}, "character ?"}, {{"a*b"}, "character *"},
        {{"ab:c"}, "character :"}, {{"a:b"}, "(it names the drive a:"},
        {{"web.bin", "web.bin."}, "\"web.bin.\" is refused " + trailing}, {{"web.bin "}, trailing}, {{"x. "}, trailing},
        {{"CON"}, "\"CON\" is refused (CON is a device on Windows, not a file)"}, {{"con.txt"}, "(CON is a device"},
        {{"Nul.tar.gz"}, "(NUL is a device"}, {{"prn"}, "(PRN is a device"}, {{"AUX .bin"}, "(AUX is a device"},
        {{"COM1"}, "(COM is a device"}, {{"com9.bin"}, "(COM is a device"}, {{"LPT1"}, "(LPT is a device"},
        {{"lpt9.x"}, "(LPT is a device"}, {{"COM\xB9"}, "(COM is a device"}, {{"conout$"}, "(CONOUT$ is a device"},
        {{"web.bin", "WEB.BIN"}, "\"WEB.BIN\" is refused (Windows takes it for \"web.bin\", another member)"},
        {{"auth.key", "Auth.Key"}, "takes it for \"auth.key\""}, {{"\xE9t\xE9.bin", "\xC9T\xC9.BIN"}, "takes it for"},
        {{std::string(256, 'a')}, "(256 bytes long, more than the 255 a file name may be)"},
        {{std::string(220, 'a')}, ""},
        {{std::string(220, 'a')}, "(its path in the work folder would be 269 characters long, more than the 259", kWindows},
        {{std::string(210, 'a')}, "", kWindows},
        {{std::string(211, 'a')}, "would be 260 characters long", kWindows},
        {{"x"}, "would be 4096 characters long", kLinux, 4094},
    };
    for (const Row& row : rows) {
        const std::string problem = memberNamesProblem(row.names, row.folder, row.limits);
        const std::string shown = row.names.back().substr(0, 30);
        if (row.why.empty()) {
            EXPECT_EQ(problem, "") << shown;
        } else {
            EXPECT_NE(problem.find(row.why), std::string::npos) << shown << ": " << problem;
            EXPECT_TRUE(problem.starts_with("the member name \"")) << problem;
        }
    }
}

}  // namespace
