// The transfer's rules apart from any I/O: the controller's file name, dates
// out of the MS-DOS range, the final wait and runs of time-outs. The bytes on
// the wire are checked end-to-end in transfer_sim_test.cpp.
#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "block.h"
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

TEST(AnswerTracker, AnAnswerBreaksARunOfTimeouts) {
    AnswerTracker t;
    for (int i = 0; i < 4; ++i) t.on_timeout();
    EXPECT_EQ(t.on_byte(kNak), AnswerTracker::Verdict::kResend);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(t.on_timeout(), AnswerTracker::Verdict::kResend);
    EXPECT_EQ(t.on_timeout(), AnswerTracker::Verdict::kFailed);
    EXPECT_EQ(t.code(), TOV_ERR_SILENT);
}

}  // namespace
