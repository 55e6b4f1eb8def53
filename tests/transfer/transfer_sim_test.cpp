// End-to-end: the library's transfer, download and update against the
// simulated controller on a pseudo-terminal.
#ifdef HAVE_SIMULATOR

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <optional>

#include "block.h"
#include "exchange.h"
#include "recovery.h"
#include "temp_dir.h"
#include "tovrane.h"
#include "tq318/simulator.h"
#include "transfer.h"
#include "uart.h"
#include "ui/ui.h"

// Fault sets and rows are designated initializers: the members left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace ui = tovrane::ui;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

constexpr std::uint8_t kPort = 7;
constexpr std::uint16_t kFailed = TOV_ERR_LOAD_FAILED;
const std::string kCode44 = "\r\n(null) Error!, Code:44, ";

Bytes pattern(std::size_t n, std::uint32_t seed) {
    Bytes v(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) b = static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    return v;
}

// Records what the library shows and answers its questions from a script
// (No once the answers run out).
struct RecordingUi : ui::Ui {
    Lines messages, questions, statuses, opened;
    std::vector<bool> answers;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> acks;  // block, total
    std::size_t closed = 0;
    int cursor_depth = 0;

    struct Window : ui::ProgressWindow {
        explicit Window(RecordingUi& owner) : owner(owner) {}
        ~Window() override { ++owner.closed; }
        void set_status(std::string_view t) override { owner.statuses.emplace_back(t); }
        void block_acknowledged(std::uint32_t block, std::uint32_t total) override { owner.acks.emplace_back(block, total); }
        RecordingUi& owner;
    };
    void remember_owner() override {}
    std::unique_ptr<ui::ProgressWindow> open_progress(std::string_view name) override {
        opened.emplace_back(name);
        return std::make_unique<Window>(*this);
    }
    void message(std::string_view text, std::string_view) override { messages.emplace_back(text); }
    bool ask_yes_no(std::string_view text, std::string_view) override {
        questions.emplace_back(text);
        return questions.size() <= answers.size() && answers[questions.size() - 1];
    }
    void set_wait_cursor(bool on) override { cursor_depth += on ? 1 : -1; }
};

// Disks of 96 KiB; the controller gives up a transfer after 3 s of silence.
class SimTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        ui::set_active_ui(&ui_);
        sim_.start();
        ::setenv("UART_COM7", sim_.device_path().c_str(), 1);
        ASSERT_EQ(Open_Com(kPort, 115200, 8, 0, 0), 0);
        ASSERT_TRUE(sim_.wait_until_ready(3s));
    }
    void TearDown() override { Close_Com(kPort), ui::set_active_ui(nullptr); }
    std::string make_file(const std::string& name, const Bytes& content) {
        testing_support::write_file(dir_ / name, {reinterpret_cast<const char*>(content.data()), content.size()});
        return (dir_ / name).string();
    }
    std::optional<Bytes> stored(char disk, const std::string& name) const {
        for (const auto& f : sim_.files(disk)) if (f.name == name) return f.data;
        return std::nullopt;
    }

    tq318::Simulator sim_{{.disk_a_kib = 96, .disk_b_kib = 96, .transfer_timeout_ms = 3000}};
    testing_support::TempDir dir_;
    RecordingUi ui_;
    char reply_[2048] = {};
};

// A file sent through a line fault, one row each: the sizes at the block
// edges, the raw mode, the faults, a full disk and the update. A send may fail,
// but never reports success with a file stored or installed wrong, and
// afterwards the controller answers at once. Time-outs are not NAKs; three
// NAKs fail, and the library then waits for the controller to give up. A header
// is never sent twice: the download starts over, once. A full disk: Yes
// empties that disk only and sends the file again from its header, and asks
// again while it still does not fit. An update's failed transfer ends with its
// own code while the text says 100; "bios1" may first answer "... done." and
// the rest later: it is read once more. A file that is not there goes as the
// no-file block.
struct Send {
    const char* name;
    std::size_t size = 1000;  // last block 232 bytes: a header taken as content would fit
    tq318::Faults faults = {};
    std::uint16_t code = 0;
    Lines typed = {"load"};  // every line the console took, blank ones aside
    long timeouts = 0;
    Lines statuses = {};  // all of them, when given
    std::size_t windows = 1;
    bool update = false;  // TOV_Update_Tovrane, not TOV_Load_File
    std::string reply = kCode44;  // after a failure
    Lines shown = {};
    char disk = 'a', stores_on = 'a';
    std::int32_t mode = 0;
    std::vector<bool> answers = {};  // when given, both disks are full and this is asked
    bool missing = false;
};
void PrintTo(const Send& d, std::ostream* os) { *os << d.name; }
tq318::Faults naks(int block, int times) { return {.nak_block = block, .nak_times = times}; }
tq318::Faults lost_ack(int block, int times, std::uint32_t delay_ms = 0) {
    return {.reply_delay_ms = delay_ms, .lose_ack_block = block, .lose_ack_times = times};
}
struct Sends : SimTransfer, ::testing::WithParamInterface<Send> {};
TEST_P(Sends, ByteIdenticalOrFailed) {
    const Send& d = GetParam();
    const auto old = pattern(64 * 1024, 99);
    for (const char disk : {'a', 'b'}) if (!d.answers.empty()) sim_.put_file(disk, {.name = "old.bin", .data = old});
    ui_.answers = d.answers;
    sim_.clear_received_lines();
    sim_.set_faults(d.faults);
    const auto content = pattern(d.size, static_cast<std::uint32_t>(d.size));
    const std::string path = d.missing ? (dir_ / "f.bin").string() : make_file("f.bin", content);
    const fs::path cwd = fs::current_path();
    const std::uint16_t r = d.update ? TOV_Update_Tovrane(kPort, path.c_str(), reply_) : TOV_Load_File(kPort, path.c_str(), d.disk, nullptr, d.mode, reply_);
    EXPECT_EQ(r, d.code) << reply_;
    const auto blocks = static_cast<std::uint32_t>((d.size + 255) / 256);
    if (r == 0) {
        EXPECT_TRUE(tovrane::ends_with_char(reply_, '>')) << reply_;
        EXPECT_EQ(d.update ? sim_.uploaded_image() : stored(d.stores_on, "f.bin"), content);
        EXPECT_EQ(tovrane::last_block_count(), blocks);  // sizes the final wait
        ASSERT_EQ(ui_.acks.size(), blocks);
        for (std::uint32_t i = 0; i < blocks; ++i) EXPECT_EQ(ui_.acks[i], std::make_pair(i + 1, blocks));
    } else {
        EXPECT_EQ(reply_, d.reply);
    }
    EXPECT_EQ(sim_.image_installed(), d.update && r == 0);
    EXPECT_EQ(std::ranges::count(ui_.statuses, "Receive Time Out!!"), d.timeouts);
    EXPECT_EQ(d.statuses.empty() ? d.statuses : ui_.statuses, d.statuses);
    EXPECT_EQ(ui_.opened, Lines(d.windows, "f.bin"));  // each closed again
    EXPECT_EQ(ui_.closed, d.windows);
    EXPECT_EQ(ui_.messages, d.shown);
    EXPECT_EQ(ui_.questions, Lines(d.answers.size(), "Delete all files!!"));
    EXPECT_EQ(ui_.cursor_depth, 0);
    EXPECT_EQ(fs::current_path(), cwd);
    EXPECT_TRUE(d.answers.empty() || stored(d.stores_on == 'a' ? 'b' : 'a', "old.bin") == old);
    EXPECT_TRUE(d.answers.empty() || stored(d.stores_on, "old.bin").has_value() != d.answers.front());
    sim_.set_faults({});
    Lines typed = sim_.received_lines();
    std::erase(typed, "");  // the carriage returns that confirm the prompt
    EXPECT_EQ(typed, d.typed);  // nothing of the file reached the console as typed input
    EXPECT_EQ(tovrane::exchange(kPort, "ver", reply_, 1500, '>'), 0) << reply_;
}
const std::string kDone = "\r\nInstalling image ... done.\r\nTovrane image NOT installed\r\nTQ318-5314A>";
const std::string kNoImage = "\r\nNo image in memory, upload first!!\r\nTQ318-5314A>";  // 50 characters
const std::string k100 = "\r\n(null) Error!, Code:100, ", kNoFile = "File no found!!";
const Lines kTwoLoads = {"load", "load"}, kDeleted = {"load", "del", "Y", "load"};
INSTANTIATE_TEST_SUITE_P(
    Rows, Sends,
    ::testing::Values(
        Send{"size_0", 0}, Send{"size_1", 1}, Send{"size_255", 255}, Send{"size_256", 256}, Send{"size_257", 257},
        Send{"size_65553", 65536 + 17}, Send{.name = "raw_mode", .typed = {"loadr"}, .disk = 'b', .mode = 1},
        Send{.name = "two_naks", .faults = naks(1, 2)},
        Send{.name = "time_out_and_two_naks", .faults = {.nak_block = 1, .nak_times = 3, .swallow_block = 1, .swallow_times = 1},
             .timeouts = 1},
        Send{.name = "three_naks", .faults = naks(1, 3), .code = kFailed,
             .statuses = {"time Error", std::string(tovrane::kAwaitingPromptStatus)}},
        Send{.name = "header_naks_only", .faults = naks(0, 2)},
        Send{.name = "block_lost_twice", .faults = {.swallow_block = 3, .swallow_times = 2}, .timeouts = 2},
        Send{.name = "silent", .faults = {.swallow_block = 1, .swallow_times = 1000}, .code = kFailed, .timeouts = 5},
        Send{.name = "other_byte", .faults = {.other_byte_block = 2}, .code = kFailed},
        Send{.name = "header_ack_once", .faults = lost_ack(0, 1), .typed = kTwoLoads, .windows = 2},
        Send{.name = "header_ack_twice", .faults = lost_ack(0, 2), .code = kFailed, .typed = kTwoLoads, .windows = 2},
        Send{.name = "data_ack", .faults = lost_ack(2, 1), .code = kFailed, .timeouts = 1},
        Send{.name = "data_ack_slow5", .faults = lost_ack(2, 1, 5), .code = kFailed, .timeouts = 1},
        Send{.name = "data_ack_slow20", .faults = lost_ack(2, 1, 20), .code = kFailed, .timeouts = 1},
        Send{.name = "data_ack_slow100", .faults = lost_ack(2, 1, 100), .code = kFailed, .timeouts = 1},
        Send{.name = "full_yes", .size = 48 * 1024, .typed = kDeleted, .answers = {true}},
        Send{.name = "full_b_yes", .size = 48 * 1024, .typed = {"loadb", "delb", "Y", "loadb"}, .disk = 'B', .stores_on = 'b',
             .answers = {true}},
        Send{.name = "full_no", .size = 48 * 1024, .code = kFailed, .windows = 0, .answers = {false}},
        Send{.name = "still_full", .size = 100 * 1024, .code = kFailed, .typed = kDeleted, .windows = 0, .answers = {true, false}},
        Send{.name = "update", .typed = {"upload", "bios1"}, .update = true},
        Send{.name = "update_three_naks", .faults = naks(1, 3), .code = TOV_ERR_BLOCK_REFUSED, .typed = {"upload"},
             .update = true, .reply = k100},
        Send{.name = "update_done_not_installed", .faults = {.bios1_answer = kDone}, .code = TOV_ERR_NOT_INSTALLED,
             .typed = {"upload", "bios1"}, .update = true, .reply = "\r\n(null) Error!, Code:39, \r\n" + kDone, .shown = {kDone}},
        Send{.name = "update_no_image", .faults = {.bios1_answer = kNoImage}, .code = TOV_ERR_NOT_INSTALLED,
             .typed = {"upload", "bios1"}, .update = true, .reply = "\r\n(null) Error!, Code:39, \r\n" + kNoImage,
             .shown = {"Please Upload first!"}},
        Send{.name = "missing", .code = kFailed, .windows = 0, .shown = {kNoFile}, .missing = true},
        Send{.name = "update_missing", .code = TOV_ERR_NO_FILE, .typed = {"upload"}, .windows = 0, .update = true,
             .reply = k100, .shown = {kNoFile}, .missing = true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimTransfer, BlocksOnTheWire) {
    const auto content = pattern(300, 5);
    const std::string path = make_file("source.dat", content);
    std::tm local{.tm_isdst = -1};
    ::strptime("2026-03-14 15:09:27", "%F %T", &local);  // local time, daylight saving as it falls
    const timespec times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    ASSERT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', "C:\\Work\\ABCDEFGHIJKLMNO", 0, reply_), 0) << reply_;
    const auto blocks = sim_.received_blocks();
    ASSERT_EQ(blocks.size(), 3u);
    const Bytes& h = blocks[0];
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h[2])), "defghijklmno");  // NUL-terminated
    EXPECT_EQ(h[2 + 13] | (h[2 + 14] << 8) | (h[2 + 15] << 16) | (h[2 + 16] << 24), 300);
    const int date_fields[] = {46, 3, 14, 15, 9, 13};  // years from 1980, month, day, h, min, s/2
    for (int i = 0; i < 6; ++i) EXPECT_EQ(h[2 + 17 + 2 * i] | (h[2 + 18 + 2 * i] << 8), date_fields[i]) << i;
    const std::pair<int, int> lengths[] = {{29, 0}, {0, 1}, {44, 0}};  // LSB first
    for (std::size_t i = 0; i < 3; ++i) {
        const Bytes& b = blocks[i];
        ASSERT_EQ(b.size(), 260u);
        EXPECT_EQ((std::pair<int, int>(b[0], b[1])), lengths[i]) << i;
        EXPECT_EQ(b[258] << 8 | b[259], GetCRC16(b.data(), 258)) << i;  // over stale payload bytes too, MSB first
    }
    // The last block keeps the bytes the block before left after its 44.
    EXPECT_TRUE(std::equal(blocks[2].begin() + 2 + 44, blocks[2].begin() + 258, content.begin() + 44));
    EXPECT_EQ(stored('a', "defghijklmno"), content);
}

// Every check on the file runs before the command: 48 and nothing on the
// line; without a reply buffer nothing is done at all.
TEST_F(SimTransfer, FilesThatCannotBeSent) {
    const fs::path fifo = dir_ / "fifo.img", folder = dir_ / "dir.img", sparse = dir_ / "sparse.img";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(folder);
    testing_support::write_file(sparse, "");
    fs::resize_file(sparse, std::uintmax_t{1} << 32);  // 4 GiB, a hole
    sim_.clear_received_lines();
    for (const fs::path& p : {fifo, folder, sparse}) {
        for (const bool update : {false, true}) {
            EXPECT_EQ(update ? TOV_Update_Tovrane(kPort, p.c_str(), reply_) : TOV_Load_File(kPort, p.c_str(), 'a', nullptr, 0, reply_),
                      TOV_ERR_FILE_UNREADABLE) << p;
            EXPECT_STREQ(reply_, "\r\n(null) Error!, Code:48, ");
        }
    }
    const std::string path = make_file("x.bin", pattern(10, 16));
    EXPECT_EQ(TOV_Load_File(kPort, path.c_str(), 'a', nullptr, 0, nullptr), TOV_ERR_ARGUMENT);
    EXPECT_EQ(TOV_Update_Tovrane(kPort, path.c_str(), nullptr), TOV_ERR_ARGUMENT);
    EXPECT_TRUE(sim_.received_lines().empty());
    EXPECT_TRUE(ui_.opened.empty());
}

}  // namespace

#endif  // HAVE_SIMULATOR
