// The reply parsers on bytes: the simulator's own reply texts and malformed ones.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "reply_parse.h"

namespace p = tovrane::parse;

namespace {

const std::string kPrompt = "\r\nTQ318-5314A>";

// The listing the simulated console prints for one file on each disk.
const std::string kDir =
    "\r\nFiles in Disk A:\r\n"
    "0) tq318.exe      2026/12/06 12:34:56     0001A\r\n"
    "1) file.lst       2026/12/06 12:35:00     00100\r\n"
    "Total File number is 2\r\n"
    "Free space: 1048320\r\n"
    "Files in Disk B:\r\n"
    "0) data.bin       2026/12/06 12:36:00     01000\r\n"
    "Total File number is 1\r\n"
    "Free space: 3141632" +
    kPrompt;

// An entry line whose size field stands 41 characters after the ")".
std::string entry_line(std::size_t i, const std::string& name, const std::string& hex) {
    std::string line = p::dir_label(i) + " " + name;
    const std::size_t paren = p::dir_label(i).size() - 1;
    line.resize(paren + 41, ' ');
    return line + hex + "\r\n";
}

// Only the code or number of a result: the reply may be a temporary here.
std::uint16_t dir_code(const std::string& reply, bool disk_b) { return p::parse_dir(reply, disk_b).code; }
std::uint16_t free_code(const std::string& reply, bool disk_b) { return p::parse_free_space(reply, disk_b).code; }
std::uint16_t version_code(const std::string& reply) { return p::parse_version(reply).code; }
std::int32_t version_number(const std::string& reply) { return p::parse_version(reply).version; }

}  // namespace

TEST(ValueReply, ReadsTheWordAfterTheKey) {
    EXPECT_EQ(p::value_after_key("\r\nIP=192.168.1.1" + kPrompt, "IP="), "192.168.1.1");
    EXPECT_EQ(p::value_after_key("\r\nMASK=255.255.255.0" + kPrompt, "MASK="), "255.255.255.0");
    EXPECT_EQ(p::value_after_key("\r\nGateway= \t10.0.0.254 x" + kPrompt, "Gateway="), "10.0.0.254");
}

TEST(ValueReply, KeyWithoutThePromptAtTheVeryEndFails) {
    EXPECT_FALSE(p::value_after_key("\r\nIP=192.168.1.1", "IP="));
    EXPECT_FALSE(p::value_after_key("\r\nIP=192.168.1.1" + kPrompt + " ", "IP="));
    EXPECT_FALSE(p::value_after_key("\r\nIP=192.168.1.1" + kPrompt + "\r\n", "IP="));
    EXPECT_FALSE(p::value_after_key("", "IP="));
}

TEST(ValueReply, KeyAtTheEndGivesThePromptAsTheWord) {
    EXPECT_EQ(p::value_after_key("IP=>", "IP="), ">");
}

TEST(CopyWord, CutsAnOverlongWordAndNeverWritesPastTheBuffer) {
    std::array<char, 20> buffer;
    buffer.fill('#');
    p::copy_word("123456789012345678901234", std::span<char>(buffer.data(), 16));
    EXPECT_STREQ(buffer.data(), "123456789012345");
    for (std::size_t i = 16; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '#') << i;
}

TEST(CopyWord, EmptyBufferIsLeftAlone) {
    char c = '#';
    p::copy_word("abc", std::span<char>(&c, 0));
    EXPECT_EQ(c, '#');
}

TEST(BufferText, StopsAtTheCapacityWithoutATerminator) {
    const char raw[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(p::buffer_text(raw, 4), "abcd");
    EXPECT_EQ(p::buffer_text("ab\0cd", 5), "ab");
    EXPECT_EQ(p::buffer_text(nullptr, 5), "");
}

TEST(ReadDecimal, ReadsLikeAScanfConversion) {
    EXPECT_EQ(p::read_decimal(" 42x"), 42);
    EXPECT_EQ(p::read_decimal("-7"), -7);
    EXPECT_EQ(p::read_decimal("+7"), 7);
    EXPECT_EQ(p::read_decimal("2147483647"), 2147483647);
    EXPECT_EQ(p::read_decimal("-2147483648"), -2147483647 - 1);
    EXPECT_FALSE(p::read_decimal("2147483648"));
    EXPECT_FALSE(p::read_decimal("99999999999999999999999"));
    EXPECT_FALSE(p::read_decimal("n"));
    EXPECT_FALSE(p::read_decimal("-"));
    EXPECT_FALSE(p::read_decimal(""));
}

TEST(ComReply, FullSettingsWord) {
    const auto s = p::parse_com_reply("\r\nCOM 1 Current set is: 115200,8,0,1" + kPrompt);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->baud, 115200);
    EXPECT_EQ(s->data_bits, 8);
    EXPECT_EQ(s->parity, 0);
    EXPECT_EQ(s->stop_bits, 1);
}

TEST(ComReply, WordWithoutCommaGoesWholeToStopBits) {
    const p::ComSettings s = p::parse_com_word("115200");
    EXPECT_EQ(s.stop_bits, 115200);
    EXPECT_FALSE(s.baud);
}

TEST(ComReply, ParityLetterIsNotANumber) {
    const p::ComSettings s = p::parse_com_word("9600,8,n,1");
    EXPECT_EQ(s.baud, 9600);
    EXPECT_EQ(s.data_bits, 8);
    EXPECT_FALSE(s.parity);
    EXPECT_EQ(s.stop_bits, 1);
}

TEST(ComReply, FourthCommaFieldIsDroppedAndTrailingCommaSetsNoStopBits) {
    const p::ComSettings s = p::parse_com_word("1,2,3,4,5");
    EXPECT_EQ(s.baud, 1);
    EXPECT_EQ(s.data_bits, 2);
    EXPECT_EQ(s.parity, 3);
    EXPECT_EQ(s.stop_bits, 5);
    EXPECT_FALSE(p::parse_com_word("1,2,3,").stop_bits);
}

TEST(ComReply, FieldsAndWordAreCut) {
    // A field keeps 11 characters: "00000000001" of the first.
    EXPECT_EQ(p::parse_com_word("000000000012345,8").baud, 1);
    // The word keeps 31 characters: the stop-bit field is cut to "12".
    const std::string word = "1,2,3," + std::string(22, '9') + ",12345";
    EXPECT_EQ(p::parse_com_word(word).stop_bits, 12);
}

TEST(ComReply, NeedsThePromptAndTheKeyWithItsBlank) {
    EXPECT_FALSE(p::parse_com_reply("\r\nCOM 1 Current set is: 115200,8,0,1"));
    EXPECT_FALSE(p::parse_com_reply("\r\nCOM 1 Current set is:115200,8,0,1" + kPrompt));
}

TEST(ComReply, ParityLetters) {
    EXPECT_EQ(p::parity_letter(0), 'n');
    EXPECT_EQ(p::parity_letter(1), 'e');
    EXPECT_EQ(p::parity_letter(2), 'o');
    EXPECT_EQ(p::parity_letter(3), 'm');
    EXPECT_EQ(p::parity_letter(4), 's');
    EXPECT_EQ(p::parity_letter(78), 'N');
    EXPECT_EQ(p::parity_letter(0x100 + 'E'), 'E');
}

TEST(DiskSizes, BothSizes) {
    const auto s = p::parse_disk_sizes("\r\nSizeA=1024 SizeB=3072" + kPrompt);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->size_a, 1024);
    EXPECT_EQ(s->size_b, 3072);
}

TEST(DiskSizes, SizeBIsSearchedFromTheStart) {
    const auto s = p::parse_disk_sizes("SizeB=7 SizeA=5" + kPrompt);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->size_a, 5);
    EXPECT_EQ(s->size_b, 7);
}

TEST(DiskSizes, FailsWithoutSizeAOrPrompt) {
    EXPECT_FALSE(p::parse_disk_sizes("\r\nSizeB=3072" + kPrompt));
    EXPECT_FALSE(p::parse_disk_sizes("\r\nSizeA=1024 SizeB=3072"));
}

TEST(DirLabel, OneAndTwoDigits) {
    EXPECT_EQ(p::dir_label(0), "0)");
    EXPECT_EQ(p::dir_label(9), "9)");
    EXPECT_EQ(p::dir_label(10), "10)");
    EXPECT_EQ(p::dir_label(99), "99)");
}

TEST(Dir, DiskAListing) {
    const p::DirListing l = p::parse_dir(kDir, false);
    ASSERT_EQ(l.code, 0);
    EXPECT_EQ(l.reported_count, 2);
    ASSERT_TRUE(l.entries[0]);
    EXPECT_EQ(l.entries[0]->first, "tq318.exe");
    EXPECT_EQ(l.entries[0]->second, "2026/12/06");
    EXPECT_EQ(l.entries[0]->third, "12:34:56");
    EXPECT_EQ(l.entries[0]->size, 0x1Au);
    ASSERT_TRUE(l.entries[1]);
    EXPECT_EQ(l.entries[1]->first, "file.lst");
    EXPECT_EQ(l.entries[1]->size, 0x100u);
    EXPECT_FALSE(l.entries[2]);
}

TEST(Dir, DiskBSectionAndBothSelectors) {
    EXPECT_TRUE(p::is_disk_b('b'));
    EXPECT_TRUE(p::is_disk_b('B'));
    EXPECT_FALSE(p::is_disk_b('a'));
    EXPECT_FALSE(p::is_disk_b('A'));
    EXPECT_FALSE(p::is_disk_b('x'));
    const p::DirListing l = p::parse_dir(kDir, true);
    ASSERT_EQ(l.code, 0);
    EXPECT_EQ(l.reported_count, 1);
    ASSERT_TRUE(l.entries[0]);
    EXPECT_EQ(l.entries[0]->first, "data.bin");
    EXPECT_EQ(l.entries[0]->size, 0x1000u);
}

TEST(Dir, Codes) {
    EXPECT_EQ(dir_code(kDir + " ", false), 62);
    EXPECT_EQ(dir_code("", false), 62);
    const std::string only_a = "\r\nFiles in Disk A:\r\nTotal File number is 0\r\nFree space: 5" + kPrompt;
    EXPECT_EQ(dir_code(only_a, true), 51);
    EXPECT_EQ(dir_code(only_a, false), 0);
    EXPECT_EQ(dir_code("\r\nFiles in Disk A:" + kPrompt, false), 52);
}

TEST(Dir, CountThatIsMissingOrNegativeGives52) {
    EXPECT_EQ(dir_code("Total File number is \r\nx" + kPrompt, false), 52);
    EXPECT_EQ(dir_code("Total File number is" + kPrompt, false), 52);
    EXPECT_EQ(dir_code("Total File number is -3" + kPrompt, false), 52);
    EXPECT_EQ(dir_code("Total File number is 99999999999" + kPrompt, false), 52);
}

TEST(Dir, ZeroCountReadsNoEntry) {
    const std::string reply = "0) a b c\r\nTotal File number is 0" + kPrompt;
    const p::DirListing l = p::parse_dir(reply, false);
    ASSERT_EQ(l.code, 0);
    EXPECT_EQ(l.reported_count, 0);
    for (const auto& e : l.entries) EXPECT_FALSE(e);
}

TEST(Dir, MissingLabelIsSkippedAndLaterOnesRead) {
    const std::string reply = entry_line(0, "a.bin", "00010") + entry_line(2, "c.bin", "00030") +
                              "Total File number is 3\r\n" + kPrompt;
    const p::DirListing l = p::parse_dir(reply, false);
    ASSERT_EQ(l.code, 0);
    ASSERT_TRUE(l.entries[0]);
    EXPECT_FALSE(l.entries[1]);
    ASSERT_TRUE(l.entries[2]);
    EXPECT_EQ(l.entries[2]->first, "c.bin");
    EXPECT_EQ(l.entries[2]->size, 0x30u);
}

TEST(Dir, SizeFieldWithoutHexDigitsOrPastTheEnd) {
    // Field holds blanks; and a short entry whose field lies past the reply's end.
    const std::string reply = "Total File number is 2 " + entry_line(0, "a.bin", "  ZZ") + "1) b.bin" + kPrompt;
    const p::DirListing l = p::parse_dir(reply, false);
    ASSERT_EQ(l.code, 0);
    ASSERT_TRUE(l.entries[0]);
    EXPECT_FALSE(l.entries[0]->size);
    ASSERT_TRUE(l.entries[1]);
    EXPECT_EQ(l.entries[1]->first, "b.bin");
    EXPECT_EQ(l.entries[1]->second, "TQ318-5314A>");
    EXPECT_EQ(l.entries[1]->third, "");
    EXPECT_FALSE(l.entries[1]->size);
}

TEST(Dir, SizeFieldReadsAtMostFiveHexDigits) {
    const std::string reply = entry_line(0, "big", "FFFFFF") + "Total File number is 1" + kPrompt;
    const p::DirListing l = p::parse_dir(reply, false);
    ASSERT_EQ(l.code, 0);
    EXPECT_EQ(l.entries[0]->size, 0xFFFFFu);
}

TEST(Dir, BSectionAtTheVeryEndDoesNotReadPastIt) {
    EXPECT_EQ(dir_code("Files in Disk B:>", true), 52);
}

TEST(FreeSpace, DiskAAndB) {
    const p::FreeSpace a = p::parse_free_space(kDir, false);
    EXPECT_EQ(a.code, 0);
    EXPECT_EQ(a.text, "1048320");
    const p::FreeSpace b = p::parse_free_space(kDir, true);
    EXPECT_EQ(b.code, 0);
    EXPECT_EQ(b.text, "3141632");
}

TEST(FreeSpace, Codes) {
    EXPECT_EQ(free_code(kDir.substr(0, kDir.size() - 1), false), 46);
    EXPECT_EQ(free_code("\r\nFiles in Disk A:" + kPrompt, false), 46);
    EXPECT_EQ(free_code("\r\nFree space: 1" + kPrompt, true), 51);
    EXPECT_EQ(free_code("Free space" + kPrompt, false), 0);
}

TEST(Version, SimulatorReply) {
    const std::string reply =
        "\r\nTovrane for TQ318-5314A\r\nFLASH MEMORY: 4MB\r\nVer. 1.23 build 003 Dec 06 2026" + kPrompt;
    const p::VersionInfo v = p::parse_version(reply);
    EXPECT_EQ(v.code, 0);
    EXPECT_EQ(v.version, 123003);
    EXPECT_EQ(v.model, "TQ318-5314A");
    EXPECT_EQ(v.flash, "4MB");
    EXPECT_EQ(v.build_date, "Dec/06/2026");
}

TEST(Version, NoDigitAtTheStartGivesZero) {
    EXPECT_EQ(version_number("Ver. x.yy build zzz a b c" + kPrompt), 0);
}

TEST(Version, DateWordsAreCut) {
    const std::string reply = "Ver. 1.23 build 003 December 006 2026123456" + kPrompt;
    const p::VersionInfo v = p::parse_version(reply);
    EXPECT_EQ(v.build_date, "Dec/006/2026123");
    EXPECT_LT(v.build_date.size(), p::kBuildDateSize);
}

TEST(Version, MissingFieldsGive46ButKeepModelAndFlash) {
    const std::string reply = "Tovrane for M1\r\nFLASH MEMORY: 8MB" + kPrompt;
    const p::VersionInfo no_ver = p::parse_version(reply);
    EXPECT_EQ(no_ver.code, 46);
    EXPECT_EQ(no_ver.model, "M1");
    EXPECT_EQ(no_ver.flash, "8MB");
    EXPECT_EQ(version_code("Ver. 1.23" + kPrompt), 46);
    EXPECT_EQ(version_code("Ver. 1.23 build 003 Dec 06 2026"), 46);
}

TEST(Version, FieldsAtTheVeryEndReadNothingPastIt) {
    const p::VersionInfo v = p::parse_version("Tovrane for>");
    EXPECT_EQ(v.model, "");
    EXPECT_EQ(version_code("Ver.>"), 46);
    const p::VersionInfo w = p::parse_version("Ver. 1.2 build>");
    EXPECT_EQ(w.code, 0);
    EXPECT_EQ(w.version, 12);
    EXPECT_EQ(w.build_date, "//");
}

TEST(Probe, DataWordDecidesUnlessTheModelForcesIt) {
    EXPECT_EQ(p::parse_probe("\r\ndata=50" + kPrompt, "TQ318-5314A"), 1);
    EXPECT_EQ(p::parse_probe("\r\ndata=49" + kPrompt, "TQ318-5314A"), 0);
    EXPECT_EQ(p::parse_probe("\r\nnothing" + kPrompt, "TQ318-5314A"), 0);
    EXPECT_EQ(p::parse_probe("\r\ndata=49" + kPrompt, "KX2000"), 1);
    EXPECT_EQ(p::parse_probe("\r\ndata=49" + kPrompt, "kx2000"), 1);
    EXPECT_EQ(p::parse_probe("\r\ndata=49" + kPrompt, "Q-5312AX"), 1);
    EXPECT_EQ(p::parse_probe("\r\ndata=49" + kPrompt, "KX2000X"), 0);
}

TEST(TransferChecks, SimulatorReplies) {
    EXPECT_TRUE(p::ready_for_file("\r\nReady to receive file !"));
    EXPECT_FALSE(p::ready_for_file("\r\nReady to receive file ! "));
    EXPECT_FALSE(p::ready_for_file(""));
    EXPECT_TRUE(p::reports_no_space("\r\nNOT enough space on disk A (need 5, free 1)" + kPrompt));
    EXPECT_FALSE(p::reports_no_space("\r\nnot enough space" + kPrompt));
    EXPECT_TRUE(p::upload_report_ok("\r\nImage received, 10 bytes, CRC16=1A2B"));
    EXPECT_TRUE(p::upload_report_ok("\r\nwhatever" + kPrompt));
    EXPECT_FALSE(p::upload_report_ok("\r\nwhatever"));
    const std::string fifty = std::string(49, ' ') + ">";
    EXPECT_TRUE(p::is_no_image_answer(fifty));
    EXPECT_FALSE(p::is_no_image_answer(" " + fifty));
    EXPECT_FALSE(p::is_no_image_answer(std::string(49, ' ') + "."));
}
