// The transfer's rules apart from any I/O: the controller's file name, dates
// out of the MS-DOS range, the final wait, the answers to a block and the CRC
// an upload's report gives. The bytes on the wire, and each failure's path to
// the caller, are checked end-to-end in transfer_sim_test.cpp.
#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <vector>

#include "block.h"
#include "reply_parse.h"
#include "tovrane.h"

namespace {

using namespace tovrane;

TEST(HeaderName, LastComponentsLast12CharactersInLowerCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"ABCDEFGHIJKLMNO", "defghijklmno"}, {"/tmp/work/Auth.Key", "auth.key"},
        {"D:File.BIN", "file.bin"},          {"a/b\\c:d/MixedSep.txt", "mixedsep.txt"},
        {"dir/", ""},
    };
    for (const auto& [path, name] : cases) EXPECT_EQ(header_name(path), name) << path;
}

TEST(DosTime, DatesOutsideTheRangeClampToItsEnds) {
    const std::pair<const char*, std::vector<int>> cases[] = {
        {"1970-01-15 05:00:00", {0, 1, 1, 0, 0, 0}}, {"2200-01-01 00:00:00", {127, 12, 31, 23, 59, 29}}};
    for (const auto& [when, fields] : cases) {
        std::tm local{};
        ::strptime(when, "%F %T", &local);
        const DosDateTime d = dos_date_time(local);
        EXPECT_EQ((std::vector<int>{d.year, d.month, d.day, d.hour, d.minute, d.seconds2}), fields) << when;
    }
}

TEST(FinalWait, SizedByTheBlockCount) {
    EXPECT_EQ(final_wait_ms(0), 1000u);
    EXPECT_EQ(final_wait_ms(81), 1000u);
    EXPECT_EQ(final_wait_ms(82), 1012u);
    EXPECT_EQ(final_wait_ms(162), 2000u);
    EXPECT_EQ(data_block_count(0xFFFFFFFFu), 16777216u);  // no 32-bit overflow
}

TEST(AnswerTracker, AnAnswerBreaksARunOfTimeoutsAndOthersFailAtOnce) {
    AnswerTracker t;
    for (int i = 0; i < 4; ++i) t.on_timeout();
    EXPECT_EQ(t.on_byte(kNak), AnswerTracker::Verdict::kResend);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(t.on_timeout(), AnswerTracker::Verdict::kResend);
    EXPECT_EQ(t.on_timeout(), AnswerTracker::Verdict::kFailed);
    EXPECT_EQ(t.code(), TOV_ERR_SILENT);
    // Another byte, or a line that is gone, ends the block at once. (Three
    // NAKs give 40 end-to-end, through the update.)
    AnswerTracker other, gone;
    EXPECT_EQ(other.on_byte('X'), AnswerTracker::Verdict::kFailed);
    EXPECT_EQ(other.code(), TOV_ERR_BAD_ANSWER);
    EXPECT_EQ(gone.on_read_failure(), AnswerTracker::Verdict::kFailed);
    EXPECT_EQ(gone.code(), TOV_ERR_TRANSFER_LINE);
}

// Exactly four hexadecimal digits, in either case, or no value at all.
TEST(ReportedCrc, ExactlyFourHexDigits) {
    const std::pair<const char*, std::optional<std::uint16_t>> cases[] = {
        {"\r\nImage received, 600 bytes, CRC16=1a2B\r\n>", 0x1A2B}, {"CRC16=1A2B0\r\n>", std::nullopt},
        {"CRC16=1A2\r\n>", std::nullopt}, {"CRC16=\r\n>", std::nullopt}, {"CRC=1A2B\r\n>", std::nullopt}};
    for (const auto& [report, crc] : cases) EXPECT_EQ(parse::reported_crc16(report), crc) << report;
}

}  // namespace
