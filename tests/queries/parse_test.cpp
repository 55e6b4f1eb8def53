// The reply parsers on bytes, for the cases the export tests do not reach:
// malformed, cut and hostile replies.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <tuple>

#include "reply_parse.h"

namespace p = tovrane::parse;

namespace {

const std::string kPrompt = "\r\nTQ318-5314A>";

// An entry line whose size field stands 41 characters after the ")".
std::string entry_line(std::size_t i, const std::string& name, const std::string& hex) {
    std::string line = p::dir_label(i) + " " + name;
    line.resize(p::dir_label(i).size() - 1 + 41, ' ');
    return line + hex + "\r\n";
}

}  // namespace

TEST(SmallParts, WordsBuffersAndDecimals) {
    EXPECT_EQ(p::value_after_key("\r\nGateway= \t10.0.0.254 x" + kPrompt, "Gateway="), "10.0.0.254");
    EXPECT_EQ(p::value_after_key("IP=>", "IP="), ">");
    EXPECT_FALSE(p::value_after_key("\r\nIP=1.1.1.1" + kPrompt + "\r\n", "IP="));
    EXPECT_FALSE(p::value_after_key("", "IP="));

    char c = '#';  // cutting to a buffer is checked through the exports' guard bytes
    p::copy_word("abc", std::span<char>(&c, 0));
    EXPECT_EQ(c, '#');

    const char raw[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(p::buffer_text(raw, 4), "abcd");
    EXPECT_EQ(p::buffer_text("ab\0cd", 5), "ab");
    EXPECT_EQ(p::buffer_text(nullptr, 5), "");

    const std::pair<std::string, std::optional<std::int32_t>> decimals[] = {
        {" 42x", 42}, {"-7", -7}, {"+7", 7}, {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
        {"2147483648", {}}, {"99999999999999999999999", {}}, {"n", {}}, {"-", {}}, {"", {}}};
    for (const auto& [text, want] : decimals) EXPECT_EQ(p::read_decimal(text), want) << text;
}

TEST(ComReply, SettingsWords) {
    using O = std::optional<std::int32_t>;
    struct Row { std::string word; O baud, data, parity, stop; };
    const std::string cut_stop = "1,2,3," + std::string(22, '9') + ",12345";  // the word keeps 31 characters
    const Row rows[] = {
        {"115200", {}, {}, {}, 115200},     // no comma: whole word to the stop bits
        {"9600,8,n,1", 9600, 8, {}, 1},     // a parity letter is not a number
        {"1,2,3,4,5", 1, 2, 3, 5},          // a fourth comma field is dropped
        {"1,2,3,", 1, 2, 3, {}},            // a trailing comma sets no stop bits
        {"000000000012345,8", 1, {}, {}, 8},  // a field keeps 11 characters
        {cut_stop, 1, 2, 3, 12},
    };
    for (const Row& r : rows) {
        const p::ComSettings s = p::parse_com_word(r.word);
        EXPECT_EQ(s.baud, r.baud) << r.word;
        EXPECT_EQ(s.data_bits, r.data) << r.word;
        EXPECT_EQ(s.parity, r.parity) << r.word;
        EXPECT_EQ(s.stop_bits, r.stop) << r.word;
    }
    EXPECT_FALSE(p::parse_com_reply("\r\nCOM 1 Current set is: 115200,8,0,1"));
    const std::pair<std::int32_t, char> letters[] = {{0, 'n'}, {1, 'e'}, {3, 'm'}, {4, 's'}, {0x100 + 'E', 'E'}};
    for (const auto& [code, letter] : letters) EXPECT_EQ(p::parity_letter(code), letter) << code;
}

TEST(DiskSizes, SizeBFromTheStartAndNoPrompt) {
    const auto s = p::parse_disk_sizes("SizeB=7 SizeA=5" + kPrompt);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->size_a, 5);
    EXPECT_EQ(s->size_b, 7);
    EXPECT_FALSE(p::parse_disk_sizes("\r\nSizeA=1024 SizeB=3072"));
}

// Blanks in the field; a short entry whose field lies past the end; six hex
// digits; a right-aligned field; a short line followed by text that would
// stand at offset 41; blanks then the line end, with digits on the next line.
TEST(Dir, SizeFieldEdges) {
    using Size = std::optional<std::uint32_t>;
    const std::string filler(60, 'A');
    const std::pair<std::string, std::array<Size, 3>> rows[] = {
        {"Total File number is 3 " + entry_line(0, "a.bin", "  ZZ") + entry_line(2, "big", "FFFFFF") + "1) b.bin" + kPrompt,
         {Size{}, Size{}, 0xFFFFFu}},
        {"Total File number is 3 " + entry_line(0, "a.bin", "   1A2") + "1) short\r\n" + filler + "\r\n" +
             entry_line(2, "c.bin", "  ") + "ABC" + kPrompt,
         {0x1A2u, Size{}, Size{}}},
    };
    for (const auto& [reply, sizes] : rows) {
        const p::DirListing l = p::parse_dir(reply, false);
        ASSERT_EQ(l.code, 0);
        for (std::size_t i = 0; i < 3; ++i) {
            ASSERT_TRUE(l.entries[i]);
            EXPECT_EQ(l.entries[i]->size, sizes[i]) << i << " " << reply;
        }
    }
    const p::DirListing l = p::parse_dir(rows[0].first, false);
    EXPECT_EQ(l.entries[1]->first, "b.bin");  // the words of the last entry stop at the end
    EXPECT_EQ(l.entries[1]->second, "TQ318-5314A>");
    EXPECT_EQ(l.entries[1]->third, "");
}

TEST(Version, Replies) {
    using O = std::optional<std::string>;  // model and flash are empty when their line is missing
    struct Row { std::string reply; std::uint16_t code; std::int32_t version; O model, flash; std::string date; };
    const Row rows[] = {
        {"Ver. 1.5 build 010 Jan 02 2027" + kPrompt, 0, 15010, {}, {}, "Jan/02/2027"},
        {"Ver. x.yy build zzz a b c" + kPrompt, 0, 0, {}, {}, "a/b/c"},
        {"Tovrane for M1\r\nFLASH MEMORY: 8MB" + kPrompt, 46, 0, "M1", "8MB", ""},
        {"Ver. 1.23" + kPrompt, 46, 0, {}, {}, ""},
        {"Ver. 1.23 build 003 Dec 06 2026", 46, 0, {}, {}, ""},
        {"Tovrane for>", 46, 0, "", {}, ""},
        {"Ver.>", 46, 0, {}, {}, ""},
        {"Ver. 1.2 build>", 0, 12, {}, {}, "//"},
    };
    for (const Row& r : rows) {
        const p::VersionInfo v = p::parse_version(r.reply);
        EXPECT_EQ(v.code, r.code) << r.reply;
        EXPECT_EQ(v.model, r.model) << r.reply;
        EXPECT_EQ(v.flash, r.flash) << r.reply;
        if (r.code == 0) {
            EXPECT_EQ(v.version, r.version) << r.reply;
            EXPECT_EQ(v.build_date, r.date) << r.reply;
        }
    }
}

TEST(Probe, DataWordDecidesUnlessTheModelForcesIt) {
    const std::tuple<std::string, std::string, int> rows[] = {
        {"data=50", "TQ318-5314A", 1}, {"data=49", "TQ318-5314A", 0}, {"nothing", "TQ318-5314A", 0},
        {"data=49", "KX2000", 1},      {"data=49", "kx2000", 1},      {"data=49", "Q-5312AX", 1},
        {"data=49", "KX2000X", 0}};
    for (const auto& [reply, model, flag] : rows) EXPECT_EQ(p::parse_probe("\r\n" + reply + kPrompt, model), flag) << model;
}

// The code (or yes and no) each reply gets: the listing's, the free space's
// (disk A or B asked), and the transfer's checks.
TEST(Replies, Codes) {
    using Check = std::function<int(const std::string&)>;
    const Check dir_a = [](const std::string& r) { return p::parse_dir(r, false).code; };
    const Check dir_b = [](const std::string& r) { return p::parse_dir(r, true).code; };
    const Check free_a = [](const std::string& r) { return p::parse_free_space(r, false).code; };
    const Check free_b = [](const std::string& r) { return p::parse_free_space(r, true).code; };
    const Check ready = [](const std::string& r) { return int(p::ready_for_file(r)); };
    const Check no_space = [](const std::string& r) { return int(p::reports_no_space(r)); };
    const Check report_ok = [](const std::string& r) { return int(p::upload_report_ok(r)); };
    const Check no_image = [](const std::string& r) { return int(p::is_no_image_answer(r)); };
    const Check fails = [](const std::string& r) { return int(p::says_failure(r)); };
    const std::string only_a = "\r\nFiles in Disk A:\r\nTotal File number is 0\r\nFree space: 5" + kPrompt;
    const std::string listing = "\r\nFiles in Disk A:\r\nFree space: 7" + kPrompt, fifty = std::string(49, ' ') + ">";
    const std::tuple<const Check&, std::string, int> rows[] = {
        {dir_a, only_a, 0}, {dir_a, only_a + " ", 62}, {dir_a, "", 62}, {dir_b, only_a, 51},
        {dir_a, "\r\nFiles in Disk A:" + kPrompt, 52},
        {dir_b, "Files in Disk B:>", 52},  // the section at the very end: nothing read past it
        {dir_a, "Total File number is \r\nx" + kPrompt, 52}, {dir_a, "Total File number is" + kPrompt, 52},
        {dir_a, "Total File number is -3" + kPrompt, 52}, {dir_a, "Total File number is 99999999999" + kPrompt, 52},
        {free_b, listing, 51}, {free_a, listing.substr(0, listing.size() - 1), 46},
        {free_a, "\r\nFiles in Disk A:" + kPrompt, 46}, {free_a, "Free space" + kPrompt, 0},
        {ready, "\r\nReady to receive file !", 1}, {ready, "\r\nReady to receive file ! ", 0}, {ready, "", 0},
        {no_space, "\r\nNOT enough space on disk A (need 5, free 1)" + kPrompt, 1},
        {no_space, "\r\nnot enough space" + kPrompt, 0}, {report_ok, "\r\nImage received, 10 bytes, CRC16=1A2B", 1},
        {report_ok, "\r\nwhatever" + kPrompt, 1}, {report_ok, "\r\nwhatever", 0}, {no_image, fifty, 1},
        {no_image, " " + fifty, 0}, {no_image, std::string(49, ' ') + ".", 0},
        // An install answer fails on any of these words, in any case; a controller's own words for success pass.
        {fails, "Flash ERROR", 1}, {fails, "install Failed", 1}, {fails, "Image NOT installed", 1}, {fails, "Rejected", 1},
        {fails, "invalid image", 1}, {fails, "ABORTED", 1}, {fails, "Please Upload first!", 1},
        {fails, "\r\nInstalled.\r\n>", 0}, {fails, "Flash written, image installed" + kPrompt, 0}};
    for (const auto& [check, reply, want] : rows) EXPECT_EQ(check(reply), want) << reply;
}
