// The block format on bytes: header record, data blocks, CRC placement, the
// controller name, the path split and the answer rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <numeric>
#include <vector>

#include "block.h"
#include "tovrane.h"

namespace {

using namespace tovrane;

// Bit-by-bit CRC-16/XMODEM, independent of the library's table.
std::uint16_t reference_crc(const std::uint8_t* data, std::size_t n) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < n; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
        for (int b = 0; b < 8; ++b) {
            crc = (crc & 0x8000u) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021u)
                                  : static_cast<std::uint16_t>(crc << 1);
        }
    }
    return crc;
}

std::uint16_t le16(const Block& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

void expect_crc_msb_first_over_258(const Block& b) {
    const std::uint16_t crc = reference_crc(b.data(), 258);
    EXPECT_EQ(b[258], crc >> 8);
    EXPECT_EQ(b[259], crc & 0xFF);
}

HeaderRecord sample_record() {
    HeaderRecord r;
    r.name = header_name("ABCDEFGHIJKLMNO");
    r.size = 0x01020304;
    r.year = 46;
    r.month = 12;
    r.day = 6;
    r.hour = 23;
    r.minute = 59;
    r.seconds2 = 29;
    return r;
}

TEST(HeaderRecord, FieldsAtTheirOffsetsLsbFirst) {
    Block b{};
    b.fill(0xEE);
    BuildHeaderBlock(b, sample_record());
    EXPECT_EQ(le16(b, 0), 29);
    const std::uint8_t* p = b.data() + 2;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p)), "defghijklmno");
    EXPECT_EQ(p[12], 0);  // NUL after 12 characters
    EXPECT_EQ(p[13], 0x04);
    EXPECT_EQ(p[14], 0x03);
    EXPECT_EQ(p[15], 0x02);
    EXPECT_EQ(p[16], 0x01);
    const std::uint16_t fields[] = {46, 12, 6, 23, 59, 29};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(p[17 + 2 * i] | (p[18 + 2 * i] << 8), fields[i]) << "field " << i;
    }
    // Past the record the payload keeps what the buffer held before.
    for (std::size_t i = 2 + 29; i < 258; ++i) ASSERT_EQ(b[i], 0xEE) << i;
    expect_crc_msb_first_over_258(b);
}

TEST(HeaderRecord, ShortNameIsNulPadded) {
    HeaderRecord r;
    r.name = "a.b";
    std::array<std::uint8_t, kHeaderRecordSize> out{};
    out.fill(0x55);
    encode_header_record(r, out);
    EXPECT_EQ(std::memcmp(out.data(), "a.b\0\0\0\0\0\0\0\0\0\0", 13), 0);
}

TEST(HeaderName, LastComponentLast12LowerCase) {
    EXPECT_EQ(header_name("ABCDEFGHIJKLMNO"), "defghijklmno");  // 15 characters lose 3
    EXPECT_EQ(header_name("C:\\Dir\\TQ318.HEX"), "tq318.hex");
    EXPECT_EQ(header_name("/tmp/work/Auth.Key"), "auth.key");
    EXPECT_EQ(header_name("D:File.BIN"), "file.bin");
    EXPECT_EQ(header_name("a/b\\c:d/MixedSep.txt"), "mixedsep.txt");
    EXPECT_EQ(header_name("exactly12.ab"), "exactly12.ab");
    EXPECT_EQ(header_name("dir/"), "");
    EXPECT_EQ(header_name(""), "");
}

TEST(SplitPath, WindowsPathWithDrive) {
    const PathParts p = SplitPath("C:\\temp\\work\\tq318.hex");
    EXPECT_EQ(p.drive, "C:");
    EXPECT_EQ(p.folder, "\\temp\\work\\");
    EXPECT_EQ(p.base, "tq318");
    EXPECT_EQ(p.extension, ".hex");
    EXPECT_EQ(p.file_name(), "tq318.hex");
}

TEST(SplitPath, LinuxPathHasNoDrive) {
    const PathParts p = SplitPath("/tmp/a.b/image.v2.img");
    EXPECT_EQ(p.drive, "");
    EXPECT_EQ(p.folder, "/tmp/a.b/");
    EXPECT_EQ(p.base, "image.v2");
    EXPECT_EQ(p.extension, ".img");
}

TEST(SplitPath, MixedSeparatorsAndOddNames) {
    EXPECT_EQ(SplitPath("dir\\sub/file").folder, "\\sub/");  // first separator through the last
    EXPECT_EQ(SplitPath("dir\\sub/file").base, "file");
    EXPECT_EQ(SplitPath("dir\\sub/file").extension, "");
    EXPECT_EQ(SplitPath("plain.txt").file_name(), "plain.txt");
    EXPECT_EQ(SplitPath("plain.txt").folder, "");
    EXPECT_EQ(SplitPath("A:x.y").drive, "A:");
    EXPECT_EQ(SplitPath("A:x.y").file_name(), "x.y");
    EXPECT_EQ(SplitPath("a:b:\\c.d").drive, "b:");  // the last colon wins
    EXPECT_EQ(SplitPath(":lead").drive, "");
    EXPECT_EQ(SplitPath("").file_name(), "");
    EXPECT_EQ(SplitPath("/dir/").file_name(), "");
}

TEST(DataBlock, LengthLsbFirstCrcMsbFirst) {
    Block b{};
    std::vector<std::uint8_t> data(256);
    std::iota(data.begin(), data.end(), std::uint8_t{0});
    EXPECT_EQ(fill_data_block(b, data), 256u);
    EXPECT_EQ(b[0], 0x00);
    EXPECT_EQ(b[1], 0x01);
    EXPECT_EQ(std::memcmp(b.data() + 2, data.data(), 256), 0);
    expect_crc_msb_first_over_258(b);
    EXPECT_EQ(block_length(b), 256);
    EXPECT_EQ(block_crc(b), reference_crc(b.data(), 258));
}

TEST(DataBlock, StalePayloadAfterLengthIsKeptAndCovered) {
    Block b{};
    std::vector<std::uint8_t> first(256, 0xAB);
    fill_data_block(b, first);
    const std::uint8_t one[] = {0x42};
    EXPECT_EQ(fill_data_block(b, one), 1u);
    EXPECT_EQ(le16(b, 0), 1);
    EXPECT_EQ(b[2], 0x42);
    for (std::size_t i = 3; i < 258; ++i) ASSERT_EQ(b[i], 0xAB) << i;
    expect_crc_msb_first_over_258(b);
    // Not the CRC of the significant bytes alone.
    std::array<std::uint8_t, 3> significant{1, 0, 0x42};
    EXPECT_NE(block_crc(b), reference_crc(significant.data(), 3));
}

TEST(DataBlock, EmptyReadKeepsPreviousCrc) {
    Block b{};
    const std::uint8_t some[] = {1, 2, 3};
    fill_data_block(b, some);
    const std::uint16_t before = block_crc(b);
    EXPECT_EQ(fill_data_block(b, {}), 0u);
    EXPECT_EQ(block_length(b), 0);
    EXPECT_EQ(block_crc(b), before);
}

TEST(DataBlock, NoFileBlockHasLengthZeroAndFreshCrc) {
    Block b{};
    b.fill(0x11);
    build_no_file_block(b);
    EXPECT_EQ(le16(b, 0), 0);
    EXPECT_EQ(b[2], 0x11);
    expect_crc_msb_first_over_258(b);
}

TEST(DataBlock, ReadDataBlockReadsAFileIn256ByteSteps) {
    std::vector<std::uint8_t> content(600);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 7);
    std::FILE* f = ::fmemopen(content.data(), content.size(), "rb");
    ASSERT_NE(f, nullptr);
    Block b{};
    EXPECT_EQ(ReadDataBlock(b, f), 256u);
    EXPECT_EQ(std::memcmp(b.data() + 2, content.data(), 256), 0);
    EXPECT_EQ(ReadDataBlock(b, f), 256u);
    EXPECT_EQ(std::memcmp(b.data() + 2, content.data() + 256, 256), 0);
    EXPECT_EQ(ReadDataBlock(b, f), 88u);
    EXPECT_EQ(block_length(b), 88);
    EXPECT_EQ(std::memcmp(b.data() + 2, content.data() + 512, 88), 0);
    EXPECT_EQ(b[2 + 88], content[256 + 88]);  // stale from the block before
    expect_crc_msb_first_over_258(b);
    EXPECT_EQ(ReadDataBlock(b, f), 0u);
    std::fclose(f);
}

TEST(DataBlock, BlockCounts) {
    EXPECT_EQ(data_block_count(0), 0u);
    EXPECT_EQ(data_block_count(1), 1u);
    EXPECT_EQ(data_block_count(256), 1u);
    EXPECT_EQ(data_block_count(257), 2u);
    EXPECT_EQ(data_block_count(0xFFFFFFFFu), 16777216u);  // no 32-bit overflow
}

TEST(DosTime, FieldsOfALocalTime) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 6;
    t.tm_hour = 12;
    t.tm_min = 34;
    t.tm_sec = 57;
    const DosDateTime d = dos_date_time(t);
    EXPECT_EQ(d.year, 46);
    EXPECT_EQ(d.month, 12);
    EXPECT_EQ(d.day, 6);
    EXPECT_EQ(d.hour, 12);
    EXPECT_EQ(d.minute, 34);
    EXPECT_EQ(d.seconds2, 28);
}

TEST(DosTime, OutOfRangeYearsClamp) {
    std::tm early{};
    early.tm_year = 1970 - 1900;
    early.tm_mday = 15;
    early.tm_hour = 5;
    const DosDateTime e = dos_date_time(early);
    EXPECT_EQ(e.year, 0);
    EXPECT_EQ(e.month, 1);
    EXPECT_EQ(e.day, 1);
    EXPECT_EQ(e.hour, 0);
    std::tm late{};
    late.tm_year = 2200 - 1900;
    const DosDateTime l = dos_date_time(late);
    EXPECT_EQ(l.year, 127);
    EXPECT_EQ(l.seconds2, 29);
}

TEST(FinalWait, GrowsWithTheBlockCount) {
    EXPECT_EQ(final_wait_ms(0), 1000u);
    EXPECT_EQ(final_wait_ms(81), 1000u);
    EXPECT_EQ(final_wait_ms(82), 1012u);
    EXPECT_EQ(final_wait_ms(162), 2000u);
    EXPECT_EQ(final_wait_ms(810), 10000u);
}

using V = AnswerTracker::Verdict;

TEST(AnswerTracker, AckAccepts) {
    AnswerTracker t;
    EXPECT_EQ(t.on_byte(kAck), V::kAccepted);
}

TEST(AnswerTracker, TwoNaksThenAckSucceed) {
    AnswerTracker t;
    EXPECT_EQ(t.on_byte(kNak), V::kResend);
    EXPECT_EQ(t.on_byte(kNak), V::kResend);
    EXPECT_EQ(t.on_byte(kAck), V::kAccepted);
}

TEST(AnswerTracker, ThreeNaksRefuse) {
    AnswerTracker t;
    t.on_byte(kNak);
    t.on_byte(kNak);
    EXPECT_EQ(t.on_byte(kNak), V::kFailed);
    EXPECT_EQ(t.code(), TOV_ERR_BLOCK_REFUSED);
}

TEST(AnswerTracker, TimeoutBetweenNaksDoesNotCount) {
    AnswerTracker t;
    EXPECT_EQ(t.on_byte(kNak), V::kResend);
    EXPECT_EQ(t.on_timeout(), V::kResend);
    EXPECT_EQ(t.on_byte(kNak), V::kResend);
    EXPECT_EQ(t.naks(), 2);
    EXPECT_EQ(t.on_byte(kAck), V::kAccepted);
}

TEST(AnswerTracker, FiveTimeoutsInARowEnd) {
    AnswerTracker t;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(t.on_timeout(), V::kResend);
    EXPECT_EQ(t.on_timeout(), V::kFailed);
    EXPECT_EQ(t.code(), TOV_ERR_SILENT);
}

TEST(AnswerTracker, AnAnswerBreaksARunOfTimeouts) {
    AnswerTracker t;
    for (int i = 0; i < 4; ++i) t.on_timeout();
    EXPECT_EQ(t.on_byte(kNak), V::kResend);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(t.on_timeout(), V::kResend);
    EXPECT_EQ(t.on_timeout(), V::kFailed);
}

TEST(AnswerTracker, OtherByteAndReadFailure) {
    AnswerTracker a;
    EXPECT_EQ(a.on_byte('\r'), V::kFailed);
    EXPECT_EQ(a.code(), TOV_ERR_BAD_ANSWER);
    AnswerTracker b;
    EXPECT_EQ(b.on_read_failure(), V::kFailed);
    EXPECT_EQ(b.code(), TOV_ERR_TRANSFER_LINE);
}

TEST(Bios1FollowupRule, FiftyCharactersWithPromptMeanNoImage) {
    const std::string base = "\r\nNo OS image in memory, please upload it first";
    auto of_length = [&](std::size_t n) {
        std::string s = base;
        s.resize(n - 1, ' ');
        return s + ">";
    };
    EXPECT_EQ(bios1_followup(of_length(50)), Bios1Followup::kPleaseUpload);
    EXPECT_EQ(bios1_followup(of_length(49)), Bios1Followup::kDone);
    EXPECT_EQ(bios1_followup(of_length(51)), Bios1Followup::kDone);
    EXPECT_EQ(bios1_followup(std::string(49, 'x') + "."), Bios1Followup::kReadAgain);
    EXPECT_EQ(bios1_followup(std::string(50, 'x')), Bios1Followup::kDone);
    EXPECT_EQ(bios1_followup("\r\nInstalling image ... done."), Bios1Followup::kReadAgain);
    EXPECT_EQ(bios1_followup(""), Bios1Followup::kDone);
}

}  // namespace
